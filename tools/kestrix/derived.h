// What a reader expects of a certificate beyond the library's items, derived
// by the tool: the validity in ISO 8601 with the days left, the signature
// algorithm where the library names none, the key's algorithm and size, every
// subjectAltName entry with its type, the SHA-256 and SHA-1 fingerprints of
// the DER, and warnings on the values the library's fixed fields leave out.
#ifndef KESTRIX_TOOLS_KESTRIX_DERIVED_H
#define KESTRIX_TOOLS_KESTRIX_DERIVED_H

#include <string>
#include <vector>

namespace kx::tool {

struct Derived {
  std::string notBefore;  // "2025-01-01T00:00:00Z", empty when the library reads none
  std::string notAfter;
  long long daysLeft = 0;          // whole days until notAfter, negative once expired
  std::string signatureAlgorithm;  // OpenSSL's name or the dotted OID, where the library has none
  std::string keyAlgorithm;        // "RSA", "EC P-256", "Ed25519", "DSA", ..., empty when unknown
  int keyBits = 0;                 // 0 when unknown
  struct Name {
    std::string type;   // "DNS", "IP", "email", "URI", "dirName", "otherName", "RID"
    std::string value;  // text; IP addresses as text, others in hex
  };
  std::vector<Name> subjectAltNames;
  std::string sha256;  // lowercase hex, colon-separated; empty where the tool has no digests
  std::string sha1;
  // What the library's fixed fields cut or leave out ("subject
  // organizationName: more than one value; the library answers one").
  std::vector<std::string> warnings;
  // The name attributes the certificate holds that the library has fields
  // for: "subject commonName", "issuer countryName", ...
  std::vector<std::string> nameAttributes;
};

// The derived values of a certificate that fills `der` exactly.
Derived Derive(const std::vector<unsigned char>& der);

// The text lines of `derived` ("      validity    ...").
std::string DerivedLines(const Derived& derived);

}  // namespace kx::tool

#endif
