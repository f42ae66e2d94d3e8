// Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue }
#include "cert/splitter.h"

#include "der/length.h"
#include "der/reader.h"
#include "kestrix.h"

namespace kx::cert {

using der::Element;
using der::Reader;

der::Reader VouchedCertificate(const std::uint8_t* certificate) {
  const der::Header h = der::ReadVouchedHeader(certificate);
  return der::Vouched(certificate, std::size_t{h.size} + h.contentLength);
}

namespace {

// Quirk: the outer length is never decoded, only stepped over; the extent of
// the certificate is its header's declared size. A first length byte above
// 0x84 is refused.
bool EnterOuterSequence(Reader& cert) {
  std::uint8_t tag = 0;
  std::uint8_t first = 0;
  Reader h = cert;
  if (!der::ReadTag(h, tag) || tag != der::kTagSequence || !der::PeekByte(h, first) ||
      first > 0x84 || !der::Skip(h, der::LengthFieldSize(first))) {
    return false;
  }
  cert = h;
  return true;
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

extern "C" int32_t KESTRIX_CALL CerExpand(const unsigned char* certificate, unsigned char* tbsOut,
                                          int32_t* tbsLen, unsigned char* sigOut, int32_t* sigLen) {
  if (certificate == nullptr) return KX_ERR_MALFORMED;
  kx::cert::CertificateParts parts{};
  const bool whole = kx::cert::SplitCertificate(kx::cert::VouchedCertificate(certificate), parts);
  // Outputs are sized by the documented limits: larger parts are refused
  // before anything is written.
  if (parts.tbs.pos == nullptr || kx::der::Remaining(parts.tbs) > kx::cert::kMaxTbsSize ||
      (whole && kx::der::Remaining(parts.signature) > kx::cert::kMaxSignatureSize)) {
    return KX_ERR_MALFORMED;
  }
  if (tbsOut == nullptr || tbsLen == nullptr) return KX_ERR_MALFORMED;
  kx::der::CopyBytes(parts.tbs, tbsOut);
  *tbsLen = static_cast<int32_t>(kx::der::Remaining(parts.tbs));
  // A fault behind the TBS leaves the TBS written and the signature untouched.
  if (!whole || sigOut == nullptr || sigLen == nullptr) return KX_ERR_MALFORMED;
  kx::der::CopyBytes(parts.signature, sigOut);
  *sigLen = static_cast<int32_t>(kx::der::Remaining(parts.signature));
  return KX_OK;
}
