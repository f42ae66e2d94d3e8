// CerExpand's work, shared with GetPreCertVerified, which hands out the same
// two parts after its validity check.
#ifndef KESTRIX_EXPORTS_CERTIFICATE_PARTS_H
#define KESTRIX_EXPORTS_CERTIFICATE_PARTS_H

#include <cstdint>

#include "der/reader.h"

namespace kx::exports {

// Cuts `cert` and writes the TBS element and the signature value to the
// caller's outputs; returns the status CerExpand documents.
std::int32_t WriteCertificateParts(der::Reader cert, std::uint8_t* tbsOut, std::int32_t* tbsLen,
                                   std::uint8_t* sigOut, std::int32_t* sigLen);

}  // namespace kx::exports

#endif  // KESTRIX_EXPORTS_CERTIFICATE_PARTS_H
