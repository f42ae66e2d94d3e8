// The four records one certificate query decodes into.
#ifndef KESTRIX_QUERY_WORKING_RECORDS_H
#define KESTRIX_QUERY_WORKING_RECORDS_H

#include <cstdint>

#include "cert/records.h"
#include "cert/tbs.h"

namespace kx::query {

// One call's working records. They live in the call's own frame (about
// 22 KB), so a query allocates nothing, and they are prepared rather than
// cleared whole.
struct WorkingRecords {
  cert::CertNameInfo issuer;
  cert::CertNameInfo subject;
  cert::CertExtInfo extensions;
  cert::CertBasicInfo basic;
};

// Decodes the certificate at `certificate` into `r`, whose fields are then
// read only up to their terminators and counts. Returns 0 or -2.
inline std::int32_t DecodeCertificate(const std::uint8_t* certificate, WorkingRecords& r) {
  return cert::DecodeCertificateForQuery(certificate, &r.issuer, &r.subject, &r.basic,
                                         &r.extensions);
}

}  // namespace kx::query

#endif  // KESTRIX_QUERY_WORKING_RECORDS_H
