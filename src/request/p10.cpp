// CertificationRequest ::= SEQUENCE {
//   certificationRequestInfo CertificationRequestInfo,
//   signatureAlgorithm       AlgorithmIdentifier,
//   signature                BIT STRING }
#include "request/p10.h"

#include "cert/alg_id.h"
#include "cert/name.h"

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
bool ReadAlgorithm(Reader& r, std::int32_t& code) {
  Element algorithm{};
  Element oid{};
  if (!der::ReadExpected(r, der::kTagSequence, algorithm) ||
      !der::ReadElement(algorithm.content, oid)) {
    return false;
  }
  code = cert::GetAlgIDFromDER(oid.content);
  return true;
}

// A BIT STRING's bits, less its first octet when `always` or when that
// octet is zero, copied to `out` (at most `capacity` bytes).
bool ReadBits(Reader& r, bool always, std::uint8_t* out, std::size_t capacity,
              std::int32_t& length) {
  Element bits{};
  if (!der::ReadExpected(r, der::kTagBitString, bits)) return false;
  std::uint8_t first = 0;
  const bool hasFirst = der::PeekByte(bits.content, first);
  if (always && !hasFirst) return false;
  if (hasFirst && (always || first == 0x00)) (void)der::Skip(bits.content, 1);
  if (der::Remaining(bits.content) > capacity) return false;
  der::CopyBytes(bits.content, out);
  length = static_cast<std::int32_t>(der::Remaining(bits.content));
  return true;
}

//   version       INTEGER { v1(0) },
// Quirk: exactly the three bytes 02 01 vv, and vv must be 0.
Fault ReadVersion(Reader& info, std::int32_t& version) {
  Reader bytes{};
  std::uint8_t tag = 0, length = 0, value = 0;
  if (!der::ReadBytes(info, 3, bytes) || !der::ReadByte(bytes, tag) ||
      !der::ReadByte(bytes, length) || !der::ReadByte(bytes, value) || tag != der::kTagInteger ||
      length != 1) {
    return Fault::kRequestVersion;
  }
  if (value != 0) return Fault::kRequestVersionValue;
  version = 0;
  return Fault::kNone;
}

}  // namespace

Fault GetPKCS10RequestInfo(Reader der, Element& info, P10Request& out) {
  Reader request{};
  // The info's tag is examined by its decoder, not here.
  if (!EnterRequest(der, request) || !der::ReadElement(request, info)) return Fault::kRequestFrame;
  if (der::Remaining(request) <= kTrailingSlack) return Fault::kNone;
  // Stepped over by its own length, so any parameters (or none) are fine.
  if (!ReadAlgorithm(request, out.signatureAlg)) return Fault::kRequestFrame;
  if (der::Remaining(request) <= kTrailingSlack) return Fault::kNone;
  // The signature value as getTVL gives it: one zero unused-bits octet dropped.
  std::int32_t length = 0;
  if (!ReadBits(request, false, out.signature, kMaxSignatureSize, length)) {
    return Fault::kRequestFrame;
  }
  out.signatureLen = length;
  return Fault::kNone;
}

Fault DecodePKCS10Request(Reader der, P10Request& out) {
  // CertificationRequestInfo ::= SEQUENCE {
  Element info{};
  if (const Fault f = GetPKCS10RequestInfo(der, info, out); f != Fault::kNone) return f;
  if (info.tag != der::kTagSequence) return Fault::kRequestInfo;
  Reader r = info.content;
  //   version       INTEGER { v1(0) },
  if (const Fault f = ReadVersion(r, out.version); f != Fault::kNone) return f;
  //   subject       Name,
  Element name{};
  if (!der::ReadExpected(r, der::kTagSequence, name) ||
      !cert::GetNameInfoFromDER(name.content, out.subject)) {
    return Fault::kRequestSubject;
  }
  //   subjectPKInfo SubjectPublicKeyInfo { algorithm, subjectPublicKey },
  // Quirk: the first octet of the key's bits is skipped whatever its value.
  Element keyInfo{};
  Element oid{};
  if (!der::ReadExpected(r, der::kTagSequence, keyInfo)) return Fault::kRequestPublicKey;
  Reader algorithm = keyInfo.content;
  Element algorithmElement{};
  if (!der::ReadExpected(algorithm, der::kTagSequence, algorithmElement) ||
      !der::ReadExpected(algorithmElement.content, der::kTagOid, oid) ||
      der::Remaining(oid.content) > kMaxOidSize) {
    return Fault::kRequestPublicKey;
  }
  out.publicKeyAlg = cert::GetAlgIDFromDER(oid.content);
  //   attributes    [0] Attributes }  -- not read
  if (!ReadBits(algorithm, true, out.publicKey, kMaxKeySize, out.publicKeyLen)) {
    return Fault::kRequestPublicKey;
  }
  return Fault::kNone;
}

}  // namespace kx::request
