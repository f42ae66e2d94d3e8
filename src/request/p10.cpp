// CertificationRequest ::= SEQUENCE {
//   certificationRequestInfo CertificationRequestInfo,
//   signatureAlgorithm       AlgorithmIdentifier,
//   signature                BIT STRING }
#include "request/p10.h"

#include <cstdio>

#include "cert/alg_id.h"
#include "cert/name.h"
#include "kestrix.h"

namespace kx::request {
namespace {

using der::Element;
using der::Reader;

// At most this many bytes behind a part mean there is nothing more to read.
constexpr std::size_t kTrailingSlack = 10;

constexpr std::size_t kMaxOidSize = 20;

// The request: its outer element, which must lie inside the bytes available.
// Quirk: the outer SEQUENCE's length only bounds the request; its members
// are read from just behind its header.
bool EnterRequest(Reader available, Reader& request) {
  Element outer{};
  if (!der::ReadExpected(available, der::kTagSequence, outer)) return false;
  request = outer.content;
  return true;
}

// An AlgorithmIdentifier, stepped over by its own length; its first element
// is the identifier, classified into `code`.
// Quirk: the identifier's tag is not examined; the parameters are not read.
bool ReadAlgorithm(Reader& r, std::int32_t* code) {
  Element algorithm{};
  Element oid{};
  if (!der::ReadExpected(r, der::kTagSequence, algorithm) ||
      !der::ReadElement(algorithm.content, oid)) {
    return false;
  }
  return cert::GetAlgIDFromDER(oid.content.pos,
                               static_cast<std::int32_t>(der::Remaining(oid.content)), code) == 0;
}

// A BIT STRING's bits, less its first octet when `always` or when that
// octet is zero, copied to `out` (at most `capacity` bytes).
bool ReadBits(Reader& r, bool always, std::uint8_t* out, std::size_t capacity,
              std::int32_t* length) {
  Element bits{};
  if (!der::ReadExpected(r, der::kTagBitString, bits)) return false;
  std::uint8_t first = 0;
  const bool hasFirst = der::PeekByte(bits.content, first);
  if (always && !hasFirst) return false;
  if (hasFirst && (always || first == 0x00)) (void)der::Skip(bits.content, 1);
  if (der::Remaining(bits.content) > capacity) return false;
  der::CopyBytes(bits.content, out);
  *length = static_cast<std::int32_t>(der::Remaining(bits.content));
  return true;
}

//   version       INTEGER { v1(0) },
// Quirk: exactly the three bytes 02 01 00.
std::int32_t ReadVersion(Reader& info, std::int32_t* version) {
  Reader bytes{};
  std::uint8_t tag = 0, length = 0, value = 0;
  if (!der::ReadBytes(info, 3, bytes) || !der::ReadByte(bytes, tag) ||
      !der::ReadByte(bytes, length) || !der::ReadByte(bytes, value) || tag != der::kTagInteger ||
      length != 1) {
    return KX_ERR_MALFORMED;
  }
  if (value != 0) {
    std::printf("Version error\n");
    return KX_ERR_MALFORMED;
  }
  *version = 0;
  return 0;
}

}  // namespace

std::int32_t GetPKCS10RequestInfo(Reader der, Reader& info, std::int32_t* signatureAlg,
                                  std::uint8_t* signature, std::int32_t* signatureLen) {
  Reader request{};
  Element infoElement{};
  if (!EnterRequest(der, request) || !der::ReadExpected(request, der::kTagSequence, infoElement)) {
    return KX_ERR_MALFORMED;
  }
  info = infoElement.whole;
  if (der::Remaining(request) <= kTrailingSlack) return 0;
  // Stepped over by its own length, so any parameters (or none) are fine.
  if (!ReadAlgorithm(request, signatureAlg)) return KX_ERR_MALFORMED;
  if (der::Remaining(request) <= kTrailingSlack) return 0;
  // The signature value as getTVL gives it: one zero unused-bits octet dropped.
  std::int32_t length = 0;
  if (!ReadBits(request, false, signature, kMaxSignatureSize, &length)) return KX_ERR_MALFORMED;
  *signatureLen = length;
  return 0;
}

std::int32_t DecodePKCS10Request(Reader der, std::int32_t* version, cert::CertNameInfo* subject,
                                 std::int32_t* signatureAlg, std::int32_t* publicKeyAlg,
                                 std::uint8_t* publicKey, std::int32_t* publicKeyLen,
                                 std::uint8_t* signature, std::int32_t* signatureLen) {
  Reader whole{};
  if (const std::int32_t rc =
          GetPKCS10RequestInfo(der, whole, signatureAlg, signature, signatureLen);
      rc != 0) {
    std::printf("GetPKCS10RequestInfo error ret=%d\n", rc);
    return rc;
  }
  // CertificationRequestInfo ::= SEQUENCE {
  Element info{};
  if (!der::ReadExpected(whole, der::kTagSequence, info)) return KX_ERR_MALFORMED;
  Reader r = info.content;
  //   version       INTEGER { v1(0) },
  if (const std::int32_t rc = ReadVersion(r, version); rc != 0) return rc;
  //   subject       Name,
  Element name{};
  if (!der::ReadExpected(r, der::kTagSequence, name) ||
      cert::GetNameInfoFromDER(name.content.pos,
                               static_cast<std::int32_t>(der::Remaining(name.content)),
                               subject) != 0) {
    return KX_ERR_MALFORMED;
  }
  //   subjectPKInfo SubjectPublicKeyInfo { algorithm, subjectPublicKey },
  // Quirk: the first octet of the key's bits is skipped whatever its value.
  Element keyInfo{};
  Element oid{};
  if (!der::ReadExpected(r, der::kTagSequence, keyInfo)) return KX_ERR_MALFORMED;
  Reader algorithm = keyInfo.content;
  Element algorithmElement{};
  if (!der::ReadExpected(algorithm, der::kTagSequence, algorithmElement) ||
      !der::ReadExpected(algorithmElement.content, der::kTagOid, oid) ||
      der::Remaining(oid.content) > kMaxOidSize) {
    return KX_ERR_MALFORMED;
  }
  (void)cert::GetAlgIDFromDER(oid.content.pos,
                              static_cast<std::int32_t>(der::Remaining(oid.content)), publicKeyAlg);
  //   attributes    [0] Attributes }  -- not read
  if (!ReadBits(algorithm, true, publicKey, kMaxKeySize, publicKeyLen)) return KX_ERR_MALFORMED;
  return 0;
}

}  // namespace kx::request
