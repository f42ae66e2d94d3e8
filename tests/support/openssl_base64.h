// Base64 text of bytes as OpenSSL writes it (EVP_EncodeBlock: one line, with
// "=" padding), the reference the codec tests compare with.
#ifndef KESTRIX_TESTS_SUPPORT_OPENSSL_BASE64_H
#define KESTRIX_TESTS_SUPPORT_OPENSSL_BASE64_H

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kxtest {

inline std::string OpenSslBase64(const std::vector<std::uint8_t>& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_OPENSSL_BASE64_H
