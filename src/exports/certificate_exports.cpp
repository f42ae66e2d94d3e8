// CerExpand: a certificate's signed part and signature value.
#include "cert/splitter.h"
#include "exports/certificate_parts.h"
#include "kestrix.h"

static_assert(kx::cert::kMaxTbsSize == KX_MAX_TBS_SIZE);
static_assert(kx::cert::kMaxSignatureSize == KX_MAX_SIGNATURE_SIZE);

namespace kx::exports {

std::int32_t WriteCertificateParts(der::Reader cert, std::uint8_t* tbsOut, std::int32_t* tbsLen,
                                   std::uint8_t* sigOut, std::int32_t* sigLen) {
  cert::CertificateParts parts{};
  const bool whole = cert::SplitCertificate(cert, parts);
  // Outputs are sized by the documented limits: larger parts are refused
  // before anything is written.
  if (parts.tbs.pos == nullptr || der::Remaining(parts.tbs) > cert::kMaxTbsSize ||
      (whole && der::Remaining(parts.signature) > cert::kMaxSignatureSize)) {
    return KX_ERR_MALFORMED;
  }
  if (tbsOut == nullptr || tbsLen == nullptr) return KX_ERR_MALFORMED;
  der::CopyBytes(parts.tbs, tbsOut);
  *tbsLen = static_cast<std::int32_t>(der::Remaining(parts.tbs));
  // A fault behind the TBS leaves the TBS written and the signature untouched.
  if (!whole || sigOut == nullptr || sigLen == nullptr) return KX_ERR_MALFORMED;
  der::CopyBytes(parts.signature, sigOut);
  *sigLen = static_cast<std::int32_t>(der::Remaining(parts.signature));
  return KX_OK;
}

}  // namespace kx::exports

extern "C" int32_t KESTRIX_CALL CerExpand(const unsigned char* certificate, unsigned char* tbsOut,
                                          int32_t* tbsLen, unsigned char* sigOut, int32_t* sigLen) {
  if (certificate == nullptr) return KX_ERR_MALFORMED;
  return kx::exports::WriteCertificateParts(kx::der::VouchedElement(certificate), tbsOut, tbsLen,
                                            sigOut, sigLen);
}
