// The PEM text of a certification request.
#ifndef KESTRIX_REQUEST_PEM_REQUEST_H
#define KESTRIX_REQUEST_PEM_REQUEST_H

#include <cstdint>

#include "der/fault.h"
#include "request/p10.h"

namespace kx::request {

// The longest line the gathering takes, line feed included.
inline constexpr std::int32_t kMaxLineLength = 88;

// Everything RC_decodep10pemtxt does but the final copy: finds the armour in
// the NUL-terminated `text`, gathers the body into a work buffer of `size`
// bytes and decodes it into another, parses the request. Returns Fault::kNone
// or the first fault.
Fault DecodeP10PemText(const char* text, std::int32_t size, P10Request& request);

}  // namespace kx::request

#endif  // KESTRIX_REQUEST_PEM_REQUEST_H
