// One item of a decoded certificate, in the shape GetCertInfo hands it out.
#ifndef KESTRIX_QUERY_ITEM_QUERY_H
#define KESTRIX_QUERY_ITEM_QUERY_H

#include <cstdint>

#include "cert/records.h"
#include "query/items.h"

namespace kx::query {

// The answer to `item` (item code in the low 24 bits, form byte in the top
// 8): nothing for a code not in use.
Answer AnswerItem(const cert::CertRecords& records, std::uint32_t item);

// Writes a given answer to the caller's outputs: a text and its terminator,
// bytes, a number, or a serial formatted by its form. `out` must hold the
// item's largest answer.
void WriteAnswer(const Answer& a, std::int32_t& number, std::int32_t& length, char* out);

}  // namespace kx::query

#endif  // KESTRIX_QUERY_ITEM_QUERY_H
