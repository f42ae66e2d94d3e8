// The PEM text of a certification request.
#ifndef KESTRIX_REQUEST_PEM_REQUEST_H
#define KESTRIX_REQUEST_PEM_REQUEST_H

#include <cstdint>

#include "cert/records.h"

namespace kx::request {

// The longest line the gathering takes, line feed included.
inline constexpr std::int32_t kMaxLineLength = 88;

// Length of the line starting at `line`, line feed included, when a line
// feed stands within its first 88 bytes; 0 otherwise. Reads no further than
// the line feed or the text's terminator.
std::int32_t GetLineLen(const char* line);

// Everything RC_decodep10pemtxt does but the final copy: finds the armour,
// gathers and decodes the body, parses the request. Returns 0, 5, 100, -1
// or -2.
std::int32_t DecodeP10PemText(const char* text, std::int32_t size, cert::CertNameInfo* subject,
                              std::int32_t* publicKeyAlg, std::uint8_t* publicKey,
                              std::int32_t* publicKeyLen);

}  // namespace kx::request

#endif  // KESTRIX_REQUEST_PEM_REQUEST_H
