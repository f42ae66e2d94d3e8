// PKCS#10 certification requests (RFC 2986) in DER.
#ifndef KESTRIX_REQUEST_P10_H
#define KESTRIX_REQUEST_P10_H

#include <cstddef>
#include <cstdint>

#include "cert/records.h"
#include "der/fault.h"
#include "der/reader.h"

namespace kx::request {

// The largest public key and signature a request may carry.
inline constexpr std::size_t kMaxKeySize = 300;
inline constexpr std::size_t kMaxSignatureSize = 300;

// One decoded request.
struct P10Request {
  std::int32_t version;  // always 0
  cert::CertNameInfo subject;
  std::int32_t signatureAlg;  // AlgCodes
  std::int32_t publicKeyAlg;
  std::uint8_t publicKey[kMaxKeySize];  // the BIT STRING content less its first octet
  std::int32_t publicKeyLen;
  std::uint8_t signature[kMaxSignatureSize];  // one leading zero octet dropped
  std::int32_t signatureLen;
};

// Splits the request in `der` (the bytes available; the request's extent is
// its outer header's size, which must lie inside them) into the
// certificationRequestInfo element (`info`, whatever its tag), and the
// signature algorithm code and signature value into `request`. When at most 10 bytes follow the
// info or the signature algorithm, succeeds with the outputs behind them untouched. Returns
// Fault::kNone or Fault::kRequestFrame.
Fault GetPKCS10RequestInfo(der::Reader der, der::Element& info, P10Request& request);

// Decodes the request in `der` into `request`. Returns Fault::kNone or where
// the decoding stopped.
Fault DecodePKCS10Request(der::Reader der, P10Request& request);

}  // namespace kx::request

#endif  // KESTRIX_REQUEST_P10_H
