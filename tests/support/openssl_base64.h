// Base64 as OpenSSL writes and reads it (EVP_EncodeBlock: one line, with "="
// padding), the reference the codec tests and fuzz targets compare with.
#ifndef KESTRIX_TESTS_SUPPORT_OPENSSL_BASE64_H
#define KESTRIX_TESTS_SUPPORT_OPENSSL_BASE64_H

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kxtest {

inline std::string OpenSslBase64(const std::uint8_t* bytes, std::size_t n) {
  std::string text(4 * ((n + 2) / 3) + 1, '\0');
  const int written =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(n));
  text.resize(static_cast<std::size_t>(written));
  return text;
}

inline std::string OpenSslBase64(const std::vector<std::uint8_t>& bytes) {
  return OpenSslBase64(bytes.data(), bytes.size());
}

// True when OpenSSL's decoder takes `c` as a Base64 digit ("=" is none).
inline bool OpenSslBase64Digit(char c) {
  const unsigned char group[4] = {'A', static_cast<unsigned char>(c), 'A', 'A'};
  unsigned char out[3];
  return EVP_DecodeBlock(out, group, 4) == 3;
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_OPENSSL_BASE64_H
