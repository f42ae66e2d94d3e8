// The C boundary's two translations: a fault into the library's status code,
// and into the diagnostic line the library writes for it, if any.
#ifndef KESTRIX_EXPORTS_STATUS_H
#define KESTRIX_EXPORTS_STATUS_H

#include <cstdint>

#include "der/fault.h"

namespace kx::exports {

// The status code an export returns for `fault`.
std::int32_t StatusOf(Fault fault);

// The lines the library writes to standard output, its only output besides
// the caller's buffers.
enum class Diagnostic : std::uint8_t {
  kNone,
  kGetCertInfo,     // GetUsrPubKey: the certificate query failed
  kRequestInfo,     // a request's framing is broken
  kRequestVersion,  // a request's version is not 0
};

// The line a request fault is reported with.
Diagnostic RequestDiagnostic(Fault fault);

// Writes the line of `diagnostic` (nothing for kNone); `status` is the code
// the lines that show one carry.
void PrintDiagnostic(Diagnostic diagnostic, std::int32_t status);

}  // namespace kx::exports

#endif  // KESTRIX_EXPORTS_STATUS_H
