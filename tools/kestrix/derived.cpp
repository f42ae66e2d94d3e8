#include "derived.h"

#include <algorithm>
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

// ---- What the library's fields leave out -------------------------------------

// An attribute type the library has a field for, with its items (0: none on
// that side) and the field's room, terminator included.
struct NameField {
  std::initializer_list<unsigned char> oid;
  std::string_view name;
  std::uint32_t subjectItem;
  std::uint32_t issuerItem;
  std::size_t room = 256;
  bool joined = false;  // every value kept, joined (domainComponent)
};

// One attribute a line.
// clang-format off
const NameField kNameFields[] = {
    {{0x55, 0x04, 0x06}, "countryName", KX_ITEM_SUBJECT_COUNTRY, KX_ITEM_ISSUER_COUNTRY, 20},
    {{0x55, 0x04, 0x0A}, "organizationName", KX_ITEM_SUBJECT_ORGANIZATION, KX_ITEM_ISSUER_ORGANIZATION},
    {{0x55, 0x04, 0x0B}, "organizationalUnitName", KX_ITEM_SUBJECT_ORGANIZATIONAL_UNIT, KX_ITEM_ISSUER_ORGANIZATIONAL_UNIT},
    {{0x55, 0x04, 0x08}, "stateOrProvinceName", KX_ITEM_SUBJECT_STATE_OR_PROVINCE, KX_ITEM_ISSUER_STATE_OR_PROVINCE},
    {{0x55, 0x04, 0x03}, "commonName", KX_ITEM_SUBJECT_COMMON_NAME, KX_ITEM_ISSUER_COMMON_NAME},
    {{0x55, 0x04, 0x07}, "localityName", KX_ITEM_SUBJECT_LOCALITY, KX_ITEM_ISSUER_LOCALITY},
    {{0x55, 0x04, 0x0C}, "title", KX_ITEM_SUBJECT_TITLE, KX_ITEM_ISSUER_TITLE},
    {{0x55, 0x04, 0x04}, "surname", KX_ITEM_SUBJECT_SURNAME, KX_ITEM_ISSUER_SURNAME},
    {{0x55, 0x04, 0x2A}, "givenName", KX_ITEM_SUBJECT_GIVEN_NAME, KX_ITEM_ISSUER_GIVEN_NAME},
    {{0x55, 0x04, 0x2B}, "initials", KX_ITEM_SUBJECT_INITIALS, KX_ITEM_ISSUER_INITIALS},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01}, "emailAddress", KX_ITEM_SUBJECT_EMAIL, KX_ITEM_ISSUER_EMAIL},
    {{0x55, 0x04, 0x10}, "postalAddress", KX_ITEM_SUBJECT_POSTAL_ADDRESS, KX_ITEM_ISSUER_POSTAL_ADDRESS},
    {{0x55, 0x04, 0x12}, "postOfficeBox", KX_ITEM_SUBJECT_POST_OFFICE_BOX, KX_ITEM_ISSUER_POST_OFFICE_BOX},
    {{0x55, 0x04, 0x11}, "postalCode", KX_ITEM_SUBJECT_POSTAL_CODE, KX_ITEM_ISSUER_POSTAL_CODE},
    {{0x55, 0x04, 0x14}, "telephoneNumber", KX_ITEM_SUBJECT_TELEPHONE_NUMBER, KX_ITEM_ISSUER_TELEPHONE_NUMBER},
    {{0x55, 0x04, 0x15}, "telexNumber", KX_ITEM_SUBJECT_TELEX_NUMBER, KX_ITEM_ISSUER_TELEX_NUMBER},
    {{0x55, 0x04, 0x0D}, "description", KX_ITEM_SUBJECT_DESCRIPTION, 0},
    {{0x55, 0x04, 0x05}, "serialNumber", KX_ITEM_SUBJECT_SERIAL_NUMBER, 0},
    {{0x55, 0x04, 0x29}, "name", KX_ITEM_SUBJECT_NAME, 0},
    {{0x55, 0x04, 0x2C}, "generationQualifier", KX_ITEM_SUBJECT_GENERATION_QUALIFIER, 0},
    {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x19}, "domainComponent", KX_ITEM_SUBJECT_DOMAIN_COMPONENT, 0, 256, true},
    // Types the library has no field for, by name.
    {{0x55, 0x04, 0x09}, "streetAddress", 0, 0},
    {{0x55, 0x04, 0x0F}, "businessCategory", 0, 0},
    {{0x55, 0x04, 0x61}, "organizationIdentifier", 0, 0},
    {{0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x3C, 0x02, 0x01, 0x03}, "jurisdictionCountryName", 0, 0},
};
// clang-format on

// Warns of each attribute of the Name `rdns` ("subject", "issuer") that the
// library's items leave out: a type it has no field for, a second value of
// one field, a value it answers none for, one longer than its field.
void WarnOfName(const std::vector<unsigned char>& der, const std::vector<Element>& rdns,
                std::string_view side, Derived& out) {
  const bool subject = side == "subject";
  std::size_t seen[std::size(kNameFields)] = {};
  for (const Element& rdn : rdns) {
    for (const Element& attribute : Children(rdn.content)) {
      const std::vector<Element> parts = Children(attribute.content);
      if (parts.size() != 2 || parts[0].tag != 0x06) continue;
      const auto* field = std::find_if(std::begin(kNameFields), std::end(kNameFields),
                                       [&](const NameField& f) { return Is(parts[0], f.oid); });
      const std::uint32_t item = field == std::end(kNameFields) ? 0
                                 : subject                      ? field->subjectItem
                                                                : field->issuerItem;
      std::string what = std::string(side) + " ";
      what +=
          field == std::end(kNameFields) ? DottedOid(parts[0].content) : std::string(field->name);
      if (item == 0) {
        out.warnings.push_back(what + ": the library has no field for it");
        continue;
      }
      out.nameAttributes.push_back(what);
      const std::size_t index = static_cast<std::size_t>(field - std::begin(kNameFields));
      if (++seen[index] == 2 && !field->joined) {
        out.warnings.push_back(what + ": more than one value; the library answers one");
      }
      // A BMPString's or UniversalString's text is shorter in the locale's
      // code page than in DER.
      if (parts[1].tag != 0x1E && parts[1].tag != 0x1C && parts[1].content.size() >= field->room) {
        out.warnings.push_back(what + ": " + std::to_string(parts[1].content.size()) +
                               " bytes, cut to the library's " + std::to_string(field->room - 1));
      }
      if (AskCertItem(der, item).Bytes().empty()) {
        out.warnings.push_back(what + ": in the certificate, but the library answers none (item " +
                               std::to_string(item) + ")");
      }
    }
  }
}

// Warns of subjectAltName entries beyond what the library's items hold: one
// DNS name, IP address, email and URI each.
void WarnOfSubjectAltNames(const Derived& d, std::vector<std::string>& out) {
  for (std::string_view type : {"DNS", "IP", "email", "URI", "dirName", "RID"}) {
    const auto count = std::count_if(d.subjectAltNames.begin(), d.subjectAltNames.end(),
                                     [type](const Derived::Name& n) { return n.type == type; });
    const bool held = type == "DNS" || type == "IP" || type == "email" || type == "URI";
    if (count > (held ? 1 : 0)) {
      std::string warning = "subjectAltName: " + std::to_string(count) + " ";
      warning += type;
      warning += count == 1 ? " entry" : " entries";
      out.push_back(warning + "; the library's items hold " + (held ? "one" : "none"));
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
  // Fetched once: a fetch per call costs more than the digest of a certificate.
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  const EVP_MD* md = std::string_view(name) == "SHA256" ? sha256 : sha1;
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
    if (tbs.size() > first + 5) {
      WarnOfName(der, Children(tbs[first + 2].content), "issuer", out);
      WarnOfName(der, Children(tbs[first + 4].content), "subject", out);
      DeriveKey(Children(tbs[first + 5].content), out);
    }
    for (const Element& field : tbs) {
      if (field.tag != 0xA3) continue;
      const std::vector<Element> wrapped = Children(field.content);
      if (wrapped.size() == 1 && wrapped[0].tag == 0x30) {
        DeriveSubjectAltNames(Children(wrapped[0].content), out);
      }
    }
  }
  WarnOfSubjectAltNames(out, out.warnings);
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
  for (const std::string& warning : d.warnings) line("warning", TerminalText(warning));
  return out;
}

}  // namespace kx::tool
