// Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue }
#include "cert/splitter.h"

#include "der/quirks.h"
#include "der/reader.h"

namespace kx::cert {

using der::Element;
using der::Reader;

namespace {

// Quirk: the outer length is never decoded, only stepped over; the extent of
// the certificate is the view the caller gives. A first length byte above
// 0x84 is refused.
bool EnterOuterSequence(Reader& cert) {
  Reader h = cert;
  std::uint8_t tag = 0;
  std::uint8_t first = 0;
  if (!der::ReadTag(h, tag) || tag != der::kTagSequence || !der::PeekByte(h, first) ||
      first > 0x84) {
    return false;
  }
  return der::EnterHeaderOnly(cert);
}

// The signature value: the BIT STRING's content without its unused-bits
// count when that count is zero. Further zero bytes belong to the value.
// Quirk: the tag is not examined.
bool ReadSignatureValue(Reader& cert, Reader& value) {
  std::uint8_t tag = 0;
  der::LengthField length{};
  Reader h = cert;
  if (!der::ReadTag(h, tag) || !der::ReadLength(h, length) ||
      !der::ReadBytes(h, length.contentLength, value)) {
    return false;
  }
  std::uint8_t unusedBits = 0;
  if (der::PeekByte(value, unusedBits) && unusedBits == 0x00) (void)der::Skip(value, 1);
  cert = h;
  return true;
}

}  // namespace

bool SplitCertificate(Reader cert, CertificateParts& parts) {
  parts = CertificateParts{};
  //   tbsCertificate       TBSCertificate,
  Element tbs{};
  if (!EnterOuterSequence(cert) || !der::ReadExpected(cert, der::kTagSequence, tbs)) return false;
  parts.tbs = tbs.whole;
  //   signatureAlgorithm   AlgorithmIdentifier,
  // Stepped over by its length; identifier and parameters are not looked at.
  Element algorithm{};
  if (!der::ReadExpected(cert, der::kTagSequence, algorithm)) return false;
  //   signatureValue       BIT STRING
  return ReadSignatureValue(cert, parts.signature);
}

}  // namespace kx::cert
