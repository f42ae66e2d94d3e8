#include "derived.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "certificate.h"
#include "support/der_header.h"
#include "text.h"

#if defined(KESTRIX_TOOL_DIGESTS_OPENSSL)
#include <openssl/evp.h>
#elif defined(_WIN32)
#include <windows.h>
// windows.h first
#include <bcrypt.h>
#endif

namespace kx::tool {
namespace {

using Bytes = std::span<const unsigned char>;

struct Element {
  unsigned char tag = 0;
  Bytes content;
};

// The elements of `bytes`, in order, up to the first that does not fit.
std::vector<Element> Children(Bytes bytes) {
  std::vector<Element> out;
  while (!bytes.empty()) {
    const auto d = kxtest::ReadFitting(bytes.data(), bytes.size());
    if (!d) break;
    out.push_back({d->tag, bytes.subspan(d->header, static_cast<std::size_t>(d->content))});
    bytes = bytes.subspan(static_cast<std::size_t>(d->total()));
  }
  return out;
}

bool Is(const Element& e, std::initializer_list<unsigned char> oid) {
  return e.tag == 0x06 && std::equal(e.content.begin(), e.content.end(), oid.begin(), oid.end());
}

// The OBJECT IDENTIFIER's content in dotted form ("1.2.840.10045.4.3.2").
std::string DottedOid(Bytes oid) {
  std::string out;
  std::uint64_t arc = 0;
  for (std::size_t i = 0; i < oid.size(); ++i) {
    if (arc > (UINT64_MAX >> 7)) return {};
    arc = arc << 7 | (oid[i] & 0x7Fu);
    if (oid[i] & 0x80) continue;
    if (out.empty()) {  // the first two arcs share one number
      const std::uint64_t first = arc < 80 ? arc / 40 : 2;
      out = std::to_string(first);
      arc -= first * 40;
    }
    out += '.';
    out += std::to_string(arc);
    arc = 0;
  }
  return out;
}

// The signature algorithm's name as OpenSSL writes it, else its dotted OID.
std::string SignatureName(const Element& oid) {
  struct Name {
    std::initializer_list<unsigned char> oid;
    const char* name;
  };
  static const Name kNames[] = {
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04}, "md5WithRSAEncryption"},
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05}, "sha1WithRSAEncryption"},
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A}, "rsassaPss"},
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B}, "sha256WithRSAEncryption"},
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0C}, "sha384WithRSAEncryption"},
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0D}, "sha512WithRSAEncryption"},
      {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x01}, "ecdsa-with-SHA1"},
      {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02}, "ecdsa-with-SHA256"},
      {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x03}, "ecdsa-with-SHA384"},
      {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x04}, "ecdsa-with-SHA512"},
      {{0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x03}, "dsaWithSHA1"},
      {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x03, 0x02}, "dsa_with_SHA256"},
      {{0x2B, 0x65, 0x70}, "ED25519"},
      {{0x2B, 0x65, 0x71}, "ED448"},
  };
  for (const Name& n : kNames) {
    if (Is(oid, n.oid)) return n.name;
  }
  return oid.tag == 0x06 ? DottedOid(oid.content) : std::string();
}

// The key's algorithm and size from the SubjectPublicKeyInfo's children.
void DeriveKey(const std::vector<Element>& spki, Derived& out) {
  if (spki.size() < 2 || spki[0].tag != 0x30 || spki[1].tag != 0x03) return;
  const std::vector<Element> alg = Children(spki[0].content);
  if (alg.empty()) return;
  const Bytes key = spki[1].content.empty() ? Bytes() : spki[1].content.subspan(1);
  if (Is(alg[0], {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01})) {
    out.keyAlgorithm = "RSA";
    const std::vector<Element> rsa = Children(key);
    if (rsa.size() == 1 && rsa[0].tag == 0x30) {
      const std::vector<Element> parts = Children(rsa[0].content);
      if (!parts.empty() && parts[0].tag == 0x02) out.keyBits = BitLength(parts[0].content);
    }
  } else if (Is(alg[0], {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01})) {
    struct Curve {
      std::initializer_list<unsigned char> oid;
      const char* name;
      int bits;
    };
    static const Curve kCurves[] = {
        {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, "EC P-256", 256},
        {{0x2B, 0x81, 0x04, 0x00, 0x22}, "EC P-384", 384},
        {{0x2B, 0x81, 0x04, 0x00, 0x23}, "EC P-521", 521},
    };
    out.keyAlgorithm = "EC";
    for (const Curve& c : kCurves) {
      if (alg.size() > 1 && Is(alg[1], c.oid)) {
        out.keyAlgorithm = c.name;
        out.keyBits = c.bits;
      }
    }
    if (alg.size() > 1 && alg[1].tag == 0x30) {  // ECParameters: the field's prime p
      out.keyAlgorithm = "EC, explicit parameters";
      const std::vector<Element> parameters = Children(alg[1].content);
      const std::vector<Element> field =
          parameters.size() > 1 ? Children(parameters[1].content) : std::vector<Element>();
      if (field.size() > 1 && field[1].tag == 0x02) out.keyBits = BitLength(field[1].content);
    }
  } else if (Is(alg[0], {0x2B, 0x65, 0x70})) {
    out.keyAlgorithm = "Ed25519";
    out.keyBits = 256;
  } else if (Is(alg[0], {0x2B, 0x65, 0x71})) {
    out.keyAlgorithm = "Ed448";
    out.keyBits = 456;
  } else if (Is(alg[0], {0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01})) {
    out.keyAlgorithm = "DSA";
    if (alg.size() > 1 && alg[1].tag == 0x30) {
      const std::vector<Element> pqg = Children(alg[1].content);
      if (!pqg.empty() && pqg[0].tag == 0x02) out.keyBits = BitLength(pqg[0].content);
    }
  }
}

std::string Hex(Bytes bytes) {
  return HexText({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

// "ab:cd:..." for a digest.
std::string ColonHex(Bytes bytes) {
  const std::string hex = Hex(bytes);
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out += ':';
    out.append(hex, i, 2);
  }
  return out;
}

// An iPAddress as text: dotted IPv4, RFC 5952 IPv6 (the longest run of two
// or more zero groups as "::"), anything else in hex.
std::string IpText(Bytes ip) {
  if (ip.size() == 4) {
    return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
           std::to_string(ip[3]);
  }
  if (ip.size() != 16) return Hex(ip);
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<unsigned>(ip[2 * i] << 8 | ip[2 * i + 1]);
  int bestAt = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) bestAt = i, bestLength = j - i;
    i = j == i ? i + 1 : j;
  }
  std::string out;
  for (int i = 0; i < 8; ++i) {
    if (i == bestAt) {
      out += "::";
      i += bestLength - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    char group[5];
    std::snprintf(group, sizeof group, "%x", groups[i]);
    out += group;
  }
  return out;
}

// Every GeneralName of the subjectAltName extension among `extensions`.
void DeriveSubjectAltNames(const std::vector<Element>& extensions, Derived& out) {
  for (const Element& extension : extensions) {
    const std::vector<Element> parts = Children(extension.content);
    if (parts.size() < 2 || !Is(parts[0], {0x55, 0x1D, 0x11}) || parts.back().tag != 0x04) {
      continue;
    }
    const std::vector<Element> names = Children(parts.back().content);
    if (names.size() != 1 || names[0].tag != 0x30) continue;
    for (const Element& name : Children(names[0].content)) {
      const std::string_view text(reinterpret_cast<const char*>(name.content.data()),
                                  name.content.size());
      switch (name.tag) {
        case 0x82: out.subjectAltNames.push_back({"DNS", std::string(text)}); break;
        case 0x87: out.subjectAltNames.push_back({"IP", IpText(name.content)}); break;
        case 0x81: out.subjectAltNames.push_back({"email", std::string(text)}); break;
        case 0x86: out.subjectAltNames.push_back({"URI", std::string(text)}); break;
        case 0xA4: out.subjectAltNames.push_back({"dirName", Hex(name.content)}); break;
        case 0xA0: out.subjectAltNames.push_back({"otherName", Hex(name.content)}); break;
        case 0x88: out.subjectAltNames.push_back({"RID", Hex(name.content)}); break;
        default: break;
      }
    }
  }
}

long long DaysUntil(const std::string& t) {
  using namespace std::chrono;
  const auto part = [&t](std::size_t at, std::size_t n) { return std::stoi(t.substr(at, n)); };
  const sys_days day = year{part(0, 4)} / month{static_cast<unsigned>(part(4, 2))} /
                       ::std::chrono::day{static_cast<unsigned>(part(6, 2))};
  const auto at = day + hours{part(8, 2)} + minutes{part(10, 2)} + seconds{part(12, 2)};
  return duration_cast<days>(at - floor<seconds>(system_clock::now())).count();
}

// The digest `name` ("SHA256", "SHA1") of `der` in colon-separated hex, or
// the empty text where the tool has no digests.
std::string Fingerprint(const std::vector<unsigned char>& der, const char* name) {
#if defined(KESTRIX_TOOL_DIGESTS_OPENSSL)
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  const EVP_MD* md = EVP_get_digestbyname(name);
  if (md == nullptr || EVP_Digest(der.data(), der.size(), digest, &size, md, nullptr) != 1) {
    return {};
  }
  return ColonHex(Bytes(digest, size));
#elif defined(_WIN32)
  const wchar_t* algorithm =
      std::string_view(name) == "SHA256" ? BCRYPT_SHA256_ALGORITHM : BCRYPT_SHA1_ALGORITHM;
  BCRYPT_ALG_HANDLE handle = nullptr;
  unsigned char digest[32];
  const ULONG size = std::string_view(name) == "SHA256" ? 32 : 20;
  bool ok = BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0) >= 0;
  ok = ok && BCryptHash(handle, nullptr, 0, const_cast<PUCHAR>(der.data()),
                        static_cast<ULONG>(der.size()), digest, size) >= 0;
  if (handle != nullptr) BCryptCloseAlgorithmProvider(handle, 0);
  return ok ? ColonHex(Bytes(digest, size)) : std::string();
#else
  (void)der;
  (void)name;
  return {};
#endif
}

}  // namespace

Derived Derive(const std::vector<unsigned char>& der) {
  Derived out;
  const std::string from = FullTime(AskCertItem(der, KX_ITEM_NOT_BEFORE).Bytes());
  const std::string to = FullTime(AskCertItem(der, KX_ITEM_NOT_AFTER).Bytes());
  if (!from.empty() && !to.empty()) {
    out.notBefore = TimeText(from, 'T', "Z");
    out.notAfter = TimeText(to, 'T', "Z");
    out.daysLeft = DaysUntil(to);
  }
  const std::vector<Element> certificate = Children(Bytes(der));
  if (certificate.size() == 1 && certificate[0].tag == 0x30) {
    const std::vector<Element> parts = Children(certificate[0].content);
    const std::vector<Element> signature =
        parts.size() > 1 ? Children(parts[1].content) : std::vector<Element>();
    if (!signature.empty() && AskCertItem(der, KX_ITEM_SIGNATURE_ALGORITHM_NAME).Bytes().empty()) {
      out.signatureAlgorithm = SignatureName(signature[0]);
    }
    const std::vector<Element> tbs =
        parts.empty() ? std::vector<Element>() : Children(parts[0].content);
    const std::size_t first = !tbs.empty() && tbs[0].tag == 0xA0 ? 1 : 0;  // after the version
    if (tbs.size() > first + 5) DeriveKey(Children(tbs[first + 5].content), out);
    for (const Element& field : tbs) {
      if (field.tag != 0xA3) continue;
      const std::vector<Element> wrapped = Children(field.content);
      if (wrapped.size() == 1 && wrapped[0].tag == 0x30) {
        DeriveSubjectAltNames(Children(wrapped[0].content), out);
      }
    }
  }
  out.sha256 = Fingerprint(der, "SHA256");
  out.sha1 = Fingerprint(der, "SHA1");
  return out;
}

std::string DerivedLines(const Derived& d) {
  std::string out;
  const auto line = [&out](std::string_view label, const std::string& value) {
    out += "      " + std::string(label) + std::string(12 - label.size(), ' ') + value + "\n";
  };
  if (!d.notAfter.empty()) {
    const std::string days = d.daysLeft >= 0
                                 ? std::to_string(d.daysLeft) + " days left"
                                 : "expired " + std::to_string(-d.daysLeft) + " days ago";
    line("validity", d.notBefore + " to " + d.notAfter + " (" + days + ")");
  }
  if (!d.signatureAlgorithm.empty()) line("signature", d.signatureAlgorithm);
  if (!d.keyAlgorithm.empty()) {
    line("key", d.keyAlgorithm + (d.keyBits > 0 ? ", " + std::to_string(d.keyBits) + " bits" : ""));
  }
  for (const Derived::Name& name : d.subjectAltNames) {
    line("SAN", name.type + " " + TerminalText(name.value));
  }
  if (!d.sha256.empty()) line("SHA-256", d.sha256);
  if (!d.sha1.empty()) line("SHA-1", d.sha1);
  return out;
}

std::string DerivedJson(const Derived& d) {
  std::string out = "{";
  if (!d.notAfter.empty()) {
    out += "\"notBefore\":" + JsonString(d.notBefore) + ",\"notAfter\":" + JsonString(d.notAfter) +
           ",\"daysLeft\":" + std::to_string(d.daysLeft) + ",";
  }
  if (!d.signatureAlgorithm.empty()) {
    out += "\"signatureAlgorithm\":" + JsonString(d.signatureAlgorithm) + ",";
  }
  if (!d.keyAlgorithm.empty()) {
    out += "\"key\":{\"algorithm\":" + JsonString(d.keyAlgorithm) +
           ",\"bits\":" + std::to_string(d.keyBits) + "},";
  }
  out += "\"subjectAltNames\":[";
  for (std::size_t i = 0; i < d.subjectAltNames.size(); ++i) {
    if (i > 0) out += ",";
    out += "{\"type\":" + JsonString(d.subjectAltNames[i].type) +
           ",\"value\":" + JsonString(d.subjectAltNames[i].value) + "}";
  }
  out += "]";
  if (!d.sha256.empty()) out += ",\"sha256\":" + JsonString(d.sha256);
  if (!d.sha1.empty()) out += ",\"sha1\":" + JsonString(d.sha1);
  return out + "}";
}

}  // namespace kx::tool
