// Algorithm identifiers the library knows, as AlgCodes.
#ifndef KESTRIX_CERT_ALG_ID_H
#define KESTRIX_CERT_ALG_ID_H

#include <cstdint>

#include "der/reader.h"

namespace kx::cert {

inline constexpr std::int32_t kAlgUnknown = -1;
inline constexpr std::int32_t kAlgMd2WithRsa = 2;
inline constexpr std::int32_t kAlgMd5WithRsa = 3;
inline constexpr std::int32_t kAlgSha1WithRsa = 4;
inline constexpr std::int32_t kAlgRsaEncryption = 5;
inline constexpr std::int32_t kAlgMd4WithRsa = 6;
inline constexpr std::int32_t kAlgDsa = 7;
inline constexpr std::int32_t kAlgDsaWithSha1 = 8;

// The AlgCode of an OBJECT IDENTIFIER's content bytes: exact bytes and exact
// length, kAlgUnknown for anything else.
std::int32_t GetAlgIDFromDER(der::Reader oid);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_ALG_ID_H
