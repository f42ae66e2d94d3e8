// The certificate each thread decoded last, kept so that a caller asking for
// many items of one certificate pays for one decode.
#ifndef KESTRIX_QUERY_LAST_CERTIFICATE_H
#define KESTRIX_QUERY_LAST_CERTIFICATE_H

#include <cstddef>

#include "cert/records.h"
#include "der/fault.h"
#include "der/reader.h"

namespace kx::query {

// Certificates up to this size (their whole outer element) are kept.
constexpr std::size_t kMaxKeptCertificateSize = 16 * 1024;

// The records of `cert` (its outer element) decoded for a query, and the
// decode's fault. When the calling thread's last decode was of the same
// bytes under the same text conversion, its records and fault answer;
// otherwise the certificate is decoded, into the thread's block when it can
// be kept there, else into `scratch`. The answer is always that of a fresh
// decode: the bytes are compared, not their address, and only conversions
// that need no resource that can run out are kept.
const cert::CertRecords& DecodeOrRecall(der::Reader cert, cert::CertRecords& scratch, Fault& fault);

}  // namespace kx::query

#endif  // KESTRIX_QUERY_LAST_CERTIFICATE_H
