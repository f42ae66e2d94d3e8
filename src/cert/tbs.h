// The TBS certificate parser: one certificate into its four records.
#ifndef KESTRIX_CERT_TBS_H
#define KESTRIX_CERT_TBS_H

#include <cstdint>

#include "cert/records.h"
#include "der/fault.h"
#include "der/reader.h"

namespace kx::cert {

// Sets every byte of the record to zero, then version to 2 and
// signatureAlgorithm to 4 (presets every successful parse overwrites).
void InitCertBasicInfo(CertBasicInfo& basic);

// Decodes the certificate `cert` (its outer element) into the four records,
// which it first clears. Returns Fault::kNone, or the field where the walk
// stopped; the records then hold what was decoded before the fault.
Fault GetX509CertInfo(der::Reader cert, CertRecords& records);

// GetX509CertInfo for a caller that reads the records only up to their
// terminators and counts: the records are prepared rather than cleared
// whole, which saves most of the cost of a query.
Fault DecodeCertificateForQuery(der::Reader cert, CertRecords& records);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_TBS_H
