// The four Base64 exports: argument checks, then the codec.
#include "base64/codec.h"
#include "kestrix.h"

namespace {

// A length or capacity the codec accepts: 1..KX_BASE64_MAX_LENGTH.
bool InRange(int32_t n) {
  return n >= 1 && n <= KX_BASE64_MAX_LENGTH;
}

}  // namespace

extern "C" {

int32_t KESTRIX_CALL DerToPem(const unsigned char* der, int32_t derLen, char* pem,
                              int32_t* pemLen) {
  if (pemLen == nullptr || !InRange(*pemLen) || !InRange(derLen)) return KX_ERR_LENGTH;
  const std::size_t length = kx::base64::EncodedLength(static_cast<std::size_t>(derLen));
  if (static_cast<std::size_t>(*pemLen) < length) return KX_ERR_LENGTH;
  if (der == nullptr || pem == nullptr) return KX_ERR_LENGTH;
  kx::base64::Encode(kx::der::MakeReader(der, static_cast<std::size_t>(derLen)), pem);
  *pemLen = static_cast<int32_t>(length);
  return KX_OK;
}

int32_t KESTRIX_CALL PemToDer(const char* pem, int32_t pemLen, unsigned char* der,
                              int32_t* derLen) {
  if (derLen == nullptr || !InRange(*derLen) || !InRange(pemLen)) return KX_ERR_LENGTH;
  const auto length = static_cast<std::size_t>(pemLen);
  if (static_cast<std::size_t>(*derLen) < kx::base64::DecodeCapacity(length)) return KX_ERR_LENGTH;
  if (pem == nullptr || der == nullptr) return KX_ERR_LENGTH;
  // A text of partial groups has no well-formed last group: refused whole.
  if (length % 4 != 0) return KX_ERR_MALFORMED;
  std::size_t written = 0;
  const auto* text = reinterpret_cast<const std::uint8_t*>(pem);
  if (!kx::base64::Decode(kx::der::MakeReader(text, length), der, written)) {
    return KX_ERR_MALFORMED;
  }
  *derLen = static_cast<int32_t>(written);
  return KX_OK;
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
