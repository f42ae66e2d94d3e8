// Cutting a certificate into its signed part and its signature value.
#ifndef KESTRIX_CERT_SPLITTER_H
#define KESTRIX_CERT_SPLITTER_H

#include <cstddef>
#include <cstdint>

#include "der/reader.h"

namespace kx::cert {

// The most CerExpand hands out: callers size their buffers by these.
inline constexpr std::size_t kMaxTbsSize = 2048;
inline constexpr std::size_t kMaxSignatureSize = 300;

struct CertificateParts {
  der::Reader tbs;        // the whole TBSCertificate element, header included
  der::Reader signature;  // the signature value, its unused-bits byte dropped when zero
};

// Cuts `cert` into the TBS element and the signature value. Returns false on
// a framing fault; parts.tbs is set (pos not null) as soon as the TBS element
// was found, even when a later step fails.
[[nodiscard]] bool SplitCertificate(der::Reader cert, CertificateParts& parts);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_SPLITTER_H
