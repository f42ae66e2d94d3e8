// OpenSSL's parse of a certificate as the reference the decoding tests
// compare with: an owning pointer and the contents of an ASN1_STRING.
#ifndef KESTRIX_TESTS_SUPPORT_OPENSSL_X509_H
#define KESTRIX_TESTS_SUPPORT_OPENSSL_X509_H

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kxtest {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The string's content bytes as they stand (none for a null string).
inline std::string AsnText(const ASN1_STRING* s) {
  if (s == nullptr) return {};
  const unsigned char* p = ASN1_STRING_get0_data(s);
  return std::string(p, p + ASN1_STRING_length(s));
}

inline std::vector<std::uint8_t> AsnBytes(const ASN1_STRING* s) {
  const std::string text = AsnText(s);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The string converted to UTF-8 from whatever string type it has.
inline std::string AsnUtf8(const ASN1_STRING* s) {
  unsigned char* out = nullptr;
  const int n = ASN1_STRING_to_UTF8(&out, s);
  std::string text = n < 0 ? std::string("<not convertible>") : std::string(out, out + n);
  OPENSSL_free(out);
  return text;
}

// The longest prefix of at most `limit` bytes of UTF-8 `text` that does not
// end inside a character: how a name text is cut to its field.
inline std::string CutUtf8(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_OPENSSL_X509_H
