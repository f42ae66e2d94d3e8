// PKCS#10 certification requests (RFC 2986) in DER.
#ifndef KESTRIX_REQUEST_P10_H
#define KESTRIX_REQUEST_P10_H

#include <cstddef>
#include <cstdint>

#include "cert/records.h"
#include "der/reader.h"

namespace kx::request {

// The largest public key and signature a request may carry.
inline constexpr std::size_t kMaxKeySize = 300;
inline constexpr std::size_t kMaxSignatureSize = 300;

// Splits the request in `der` (the bytes available; the request's extent is
// its outer header's size, which must lie inside them) into the whole
// certificationRequestInfo element (`info`), the signature algorithm code and
// the signature value (one leading zero byte dropped) into `signature`
// (kMaxSignatureSize bytes) and `signatureLen`. When at most 10 bytes follow
// the info or the signature algorithm, returns 0 with the outputs behind
// them untouched. Returns 0 or -2.
std::int32_t GetPKCS10RequestInfo(der::Reader der, der::Reader& info, std::int32_t* signatureAlg,
                                  std::uint8_t* signature, std::int32_t* signatureLen);

// Decodes the request in `der`: version (always 0), subject, the signature
// and public-key algorithm codes, the public key (the BIT STRING content less
// its first octet, into kMaxKeySize bytes) and the signature. Returns 0 or
// -2; prints "GetPKCS10RequestInfo error ret=%d" or "Version error" where a
// caller may look for them.
std::int32_t DecodePKCS10Request(der::Reader der, std::int32_t* version,
                                 cert::CertNameInfo* subject, std::int32_t* signatureAlg,
                                 std::int32_t* publicKeyAlg, std::uint8_t* publicKey,
                                 std::int32_t* publicKeyLen, std::uint8_t* signature,
                                 std::int32_t* signatureLen);

}  // namespace kx::request

#endif  // KESTRIX_REQUEST_P10_H
