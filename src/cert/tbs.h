// The TBS certificate parser: one certificate into its four records.
#ifndef KESTRIX_CERT_TBS_H
#define KESTRIX_CERT_TBS_H

#include <cstdint>

#include "cert/records.h"

namespace kx::cert {

// Sets every byte of the record to zero, then version to 2 and
// signatureAlgorithm to 4 (presets every successful parse overwrites).
void InitCertBasicInfo(CertBasicInfo* basic);

// Decodes the DER certificate at `certificate` (its caller vouches for the
// whole outer element) into the two names, the basic record and the
// extensions record, which it first clears. Returns 0, or -2 for malformed
// input; on -2 the records hold what was decoded before the fault.
std::int32_t GetX509CertInfo(const std::uint8_t* certificate, CertNameInfo* issuer,
                             CertNameInfo* subject, CertBasicInfo* basic, CertExtInfo* extensions);

// GetX509CertInfo for a caller that reads the records only up to their
// terminators and counts: the records are prepared rather than cleared
// whole, which saves most of the cost of a query.
std::int32_t DecodeCertificateForQuery(const std::uint8_t* certificate, CertNameInfo* issuer,
                                       CertNameInfo* subject, CertBasicInfo* basic,
                                       CertExtInfo* extensions);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_TBS_H
