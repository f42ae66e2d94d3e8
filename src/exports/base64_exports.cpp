// The four Base64 exports: argument checks, then the codec within its limits.
#include "base64/codec.h"
#include "exports/status.h"
#include "kestrix.h"

static_assert(kx::base64::kMaxLength == KX_BASE64_MAX_LENGTH);

namespace {

// A length or capacity the codec accepts: 1..KX_BASE64_MAX_LENGTH.
bool InRange(int32_t n) {
  return n >= 1 && n <= KX_BASE64_MAX_LENGTH;
}

}  // namespace

extern "C" {

int32_t KESTRIX_CALL DerToPem(const unsigned char* der, int32_t derLen, char* pem,
                              int32_t* pemLen) {
  if (der == nullptr || pem == nullptr || pemLen == nullptr || !InRange(derLen) ||
      !InRange(*pemLen)) {
    return KX_ERR_LENGTH;
  }
  std::size_t written = 0;
  const kx::Fault fault =
      kx::base64::EncodeWithin(kx::der::MakeReader(der, static_cast<std::size_t>(derLen)), pem,
                               static_cast<std::size_t>(*pemLen), written);
  if (fault == kx::Fault::kNone) *pemLen = static_cast<int32_t>(written);
  return kx::exports::StatusOf(fault);
}

int32_t KESTRIX_CALL PemToDer(const char* pem, int32_t pemLen, unsigned char* der,
                              int32_t* derLen) {
  if (pem == nullptr || der == nullptr || derLen == nullptr || !InRange(pemLen) ||
      !InRange(*derLen)) {
    return KX_ERR_LENGTH;
  }
  std::size_t written = 0;
  const auto* text = reinterpret_cast<const std::uint8_t*>(pem);
  const kx::Fault fault =
      kx::base64::DecodeWithin(kx::der::MakeReader(text, static_cast<std::size_t>(pemLen)), der,
                               static_cast<std::size_t>(*derLen), written);
  if (fault == kx::Fault::kNone) *derLen = static_cast<int32_t>(written);
  return kx::exports::StatusOf(fault);
}

int32_t KESTRIX_CALL EncodePEMBlock(char* pem, int32_t* pemLen, const unsigned char* der,
                                    int32_t derLen) {
  return DerToPem(der, derLen, pem, pemLen);
}

int32_t KESTRIX_CALL DecodePEMBlock(unsigned char* der, int32_t* derLen, const char* pem,
                                    int32_t pemLen) {
  return PemToDer(pem, pemLen, der, derLen);
}

}  // extern "C"
