// Every certificate of the system CA bundle, asked through GetCertInfo and
// read by OpenSSL. Each item's answer is compared with OpenSSL's plain
// reading (the last occurrence of a name attribute, the last alternative
// name of each kind, the first distribution point, the first OCSP location).
// Where the library's documented rules give another answer (a text cut to
// its field, a TeletexString read as UTF-8, a key over 300 bytes refused,
// ...) the answer must be exactly the one the rule gives; each such case is printed with its
// certificate and counted. Any other difference fails. Runs in the C locale, where the library's
// text is UTF-8.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kestrix.h"
#include "support/openssl_x509.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using kxtest::AsnText;
using kxtest::AsnUtf8;
using kxtest::X509Ptr;

const fs::path kBundleDir = "/usr/share/ca-certificates/mozilla";

struct BundleCert {
  std::string label;  // the subject CN, else the file name
  Bytes der;
  X509Ptr x509;
};

// ---- Loading -------------------------------------------------------------------

// The index of the last entry of `nid` in a name, or -1.
int LastIndex(const X509_NAME* name, int nid) {
  int at = -1;
  for (int i = X509_NAME_get_index_by_NID(name, nid, -1); i >= 0;
       i = X509_NAME_get_index_by_NID(name, nid, i)) {
    at = i;
  }
  return at;
}

// The last entry of `nid` in a name, read as UTF-8; "" when there is none.
std::string LastEntry(const X509_NAME* name, int nid) {
  const int at = LastIndex(name, nid);
  return at < 0 ? std::string() : AsnUtf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
}

// Every certificate of every .crt file, sorted by file name; a file that
// yields none goes to `unreadable`.
std::vector<BundleCert> LoadBundle(std::vector<std::string>& unreadable) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kBundleDir)) {
    if (entry.path().extension() == ".crt") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<BundleCert> certs;
  for (const fs::path& file : files) {
    const std::size_t before = certs.size();
    BIO* bio = BIO_new_file(file.c_str(), "r");
    while (X509* x = bio == nullptr ? nullptr : PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
      BundleCert c{"", {}, X509Ptr(x)};
      unsigned char* der = nullptr;
      const int n = i2d_X509(x, &der);
      if (n > 0) c.der.assign(der, der + n);
      OPENSSL_free(der);
      c.label = LastEntry(X509_get_subject_name(x), NID_commonName);
      if (c.label.empty()) c.label = file.filename().string();
      certs.push_back(std::move(c));
    }
    BIO_free(bio);
    if (certs.size() == before) unreadable.push_back(file.filename().string());
  }
  return certs;
}

// ---- The library's answer --------------------------------------------------------

enum class Shape { kText, kNumber, kBytes, kKey, kSerial };

// One answer rendered for comparison: the text; the number; the bytes in
// hex; for the key also *numOut; for a serial the text and *numOut.
// Breaches of the output shape come back in `fault`.
struct Reply {
  std::int32_t rc;
  std::string value;
  std::string fault;
};

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

Reply Ask(const Bytes& der, std::uint32_t item, Shape shape) {
  // Exactly the documented size, on the heap, so a write past it is caught.
  std::vector<char> buf(KX_ITEM_BUFFER_SIZE, '\x5A');
  std::int32_t num = -777;
  std::int32_t len = -777;
  Reply r{
      GetCertInfo(static_cast<std::int32_t>(der.size()), der.data(), item, &num, &len, buf.data()),
      "", ""};
  if (r.rc != KX_OK) {
    if (buf[0] != '\0' || num != 0 || len != 0) r.fault = "outputs not cleared on failure";
    return r;
  }
  if (len < 0 || len >= KX_ITEM_BUFFER_SIZE) {
    r.fault = "length out of range: " + std::to_string(len);
    return r;
  }
  const std::string out(buf.data(), static_cast<std::size_t>(len));
  const bool terminated = buf[static_cast<std::size_t>(len)] == '\0' && out.find('\0') == out.npos;
  switch (shape) {
    case Shape::kText:
      if (!terminated || num != 0) r.fault = "not a text answer";
      r.value = out;
      break;
    case Shape::kNumber:
      if (len != 0 || buf[0] != '\0') r.fault = "a number item wrote outBuf";
      r.value = std::to_string(num);
      break;
    case Shape::kBytes:
      if (num != 0) r.fault = "a byte item set numOut";
      r.value = Hex(out);
      break;
    case Shape::kKey:
      if (num != len) r.fault = "numOut is not the key length";
      r.value = Hex(out);
      break;
    case Shape::kSerial:
      if (!terminated) r.fault = "serial text not terminated";
      r.value = out + " #" + std::to_string(num);
      break;
  }
  return r;
}

// ---- What the answer should be -----------------------------------------------------

// OpenSSL's plain reading, and the answer under the library's documented
// rules with the rules that make it differ.
struct Expected {
  std::string plain;
  std::string ruled;
  std::string rules;  // empty: no rule changes the plain reading
  std::int32_t rc = KX_OK;

  static Expected Plain(std::string v) { return {v, v, "", KX_OK}; }
  // Applies a rule: the ruled answer becomes `v`, and the rule is named if
  // that changes it.
  void Apply(const std::string& v, const char* rule) {
    if (v == ruled) return;
    ruled = v;
    rules += rules.empty() ? rule : std::string(", ") + rule;
  }
  void Refuse(const char* rule) {
    rc = KX_ERR_MALFORMED;
    ruled.clear();
    rules += rules.empty() ? rule : std::string(", ") + rule;
  }
};

// `bytes` read as UTF-8, each maximal ill-formed subsequence turned into
// U+FFFD (how the library reads a UTF8String and a TeletexString).
std::string ReadAsUtf8(const std::string& bytes) {
  std::string out;
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t need = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80) {
      out += bytes[i++];
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) need = 1;
    if (lead >= 0xE0 && lead <= 0xEF) need = 2;
    if (lead >= 0xF0 && lead <= 0xF4) need = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    std::size_t k = 1;
    for (; need != 0 && k <= need && i + k < n; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) break;
    }
    if (need != 0 && k == need + 1) {
      out.append(bytes, i, k);
    } else {
      out += "\xEF\xBF\xBD";
    }
    i += k;
  }
  return out;
}

// A name field: the last entry of `nid`, as OpenSSL reads it and as the
// name walk keeps it in a field of `fieldSize` bytes.
Expected NameField(const X509_NAME* name, int nid, std::size_t fieldSize) {
  const int at = LastIndex(name, nid);
  if (at < 0) return Expected::Plain("");
  const ASN1_STRING* v = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at));
  Expected e = Expected::Plain(AsnUtf8(v));
  const int type = ASN1_STRING_type(v);
  if (type == V_ASN1_UTF8STRING) {
    e.Apply(ReadAsUtf8(AsnText(v)), "UTF8String read with replacement characters");
  } else if (type == V_ASN1_T61STRING) {
    e.Apply(ReadAsUtf8(AsnText(v)), "TeletexString read as UTF-8");
  } else if (type != V_ASN1_BMPSTRING && type != V_ASN1_UNIVERSALSTRING) {
    const std::string raw = AsnText(v);
    e.Apply(raw.substr(0, raw.find('\0')), "string copied as its bytes");
  }
  e.Apply(kxtest::CutUtf8(e.ruled, fieldSize - 1),
          fieldSize == 20 ? "country cut to 19 bytes" : "name text cut to 255 bytes");
  return e;
}

// The extension's value bytes, or nullptr when the certificate has none.
const ASN1_OCTET_STRING* ExtensionValue(const X509* x, int nid) {
  const int at = X509_get_ext_by_NID(x, nid, -1);
  return at < 0 ? nullptr : X509_EXTENSION_get_data(X509_get_ext(x, at));
}

constexpr std::size_t kExtTextLimit = 254;
constexpr std::size_t kUrlLimit = 349;

// Where the subjectAltName walk puts a name: 'e'mail, 'u'ri, 'd'ns, 'i'p,
// 'o'ther (otherName with a 9-byte type id), or 0 for a name it steps over.
char AltNameKind(const GENERAL_NAME* gn) {
  switch (gn->type) {
    case GEN_EMAIL: return 'e';
    case GEN_URI: return 'u';
    case GEN_DNS: return 'd';
    case GEN_IPADD: return 'i';
    case GEN_OTHERNAME: {
      const std::size_t idLength = OBJ_length(gn->d.otherName->type_id);
      return idLength == 10 ? 'u' : idLength == 9 ? 'o' : 0;
    }
    default: return 0;
  }
}

std::string AltNameText(const GENERAL_NAME* gn) {
  if (gn->type != GEN_OTHERNAME) return AsnText(gn->d.ia5);
  const ASN1_TYPE* v = gn->d.otherName->value;
  return v->type == V_ASN1_BOOLEAN || v->type == V_ASN1_NULL || v->type == V_ASN1_OBJECT
             ? std::string()
             : AsnText(v->value.asn1_string);
}

// subjectAltName email, URI and DNS name: the last of each kind.
struct AltNames {
  Expected email, uri, dns;
};

AltNames SubjectAltNames(X509* x) {
  AltNames out{Expected::Plain(""), Expected::Plain(""), Expected::Plain("")};
  auto* names =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x, NID_subject_alt_name, nullptr, nullptr));
  if (names == nullptr) return out;
  std::map<char, std::string> plain;
  std::map<char, std::string> walked;
  std::map<char, std::string> walkedAnyLength;
  for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
    GENERAL_NAME* gn = sk_GENERAL_NAME_value(names, i);
    if (gn->type == GEN_EMAIL || gn->type == GEN_URI || gn->type == GEN_DNS) {
      plain[gn->type == GEN_EMAIL ? 'e' : gn->type == GEN_URI ? 'u' : 'd'] = AsnText(gn->d.ia5);
    }
    const char kind = AltNameKind(gn);
    if (kind == 0) continue;
    const std::string text = AltNameText(gn);
    walkedAnyLength[kind] = text;
    if (text.size() <= kExtTextLimit) walked[kind] = text;
  }
  GENERAL_NAMES_free(names);
  const std::pair<char, Expected*> fields[] = {{'e', &out.email}, {'u', &out.uri}, {'d', &out.dns}};
  for (auto [kind, e] : fields) {
    *e = Expected::Plain(plain[kind]);
    e->Apply(walkedAnyLength[kind], "alternative-name walk: otherName by type-id length");
    e->Apply(walked[kind], "extension text of 255+ bytes not stored");
  }
  return out;
}

// crlDistributionPoints: the first URI of the first point that has one, cut
// to 349 bytes.
Expected FirstDistributionPoint(X509* x) {
  auto* points = static_cast<CRL_DIST_POINTS*>(
      X509_get_ext_d2i(x, NID_crl_distribution_points, nullptr, nullptr));
  Expected e = Expected::Plain("");
  for (int k = 0; points != nullptr && k < sk_DIST_POINT_num(points) && e.plain.empty(); ++k) {
    const DIST_POINT* point = sk_DIST_POINT_value(points, k);
    if (point->distpoint == nullptr || point->distpoint->type != 0) continue;
    GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int i = 0; i < sk_GENERAL_NAME_num(names) && e.plain.empty(); ++i) {
      const GENERAL_NAME* gn = sk_GENERAL_NAME_value(names, i);
      if (gn->type == GEN_URI) e = Expected::Plain(AsnText(gn->d.uniformResourceIdentifier));
    }
  }
  CRL_DIST_POINTS_free(points);
  e.Apply(e.ruled.substr(0, kUrlLimit), "distribution point text cut to 349 bytes");
  return e;
}

// authorityInfoAccess: the first OCSP location, cut to 349 bytes.
Expected FirstOcspLocation(X509* x) {
  auto* access =
      static_cast<AUTHORITY_INFO_ACCESS*>(X509_get_ext_d2i(x, NID_info_access, nullptr, nullptr));
  Expected e = Expected::Plain("");
  for (int i = 0; access != nullptr && i < sk_ACCESS_DESCRIPTION_num(access) && e.plain.empty();
       ++i) {
    const ACCESS_DESCRIPTION* d = sk_ACCESS_DESCRIPTION_value(access, i);
    if (OBJ_obj2nid(d->method) == NID_ad_OCSP && d->location->type == GEN_URI) {
      e = Expected::Plain(AsnText(d->location->d.uniformResourceIdentifier));
    }
  }
  AUTHORITY_INFO_ACCESS_free(access);
  e.Apply(e.ruled.substr(0, kUrlLimit), "OCSP text cut to 349 bytes");
  return e;
}

// A key identifier: its bytes when 1..20, 20 zero bytes when absent.
Expected KeyId(const ASN1_OCTET_STRING* id) {
  if (id == nullptr) return Expected::Plain(Hex(std::string(20, '\0')));
  Expected e = Expected::Plain(Hex(AsnText(id)));
  const int n = ASN1_STRING_length(id);
  if (n == 0 || n > 20) e.Apply("", "key identifier of 0 or over 20 bytes not handed out");
  return e;
}

// keyUsage as a 16-bit number, first bits byte high; -1 when absent.
Expected KeyUsage(X509* x) {
  const std::uint32_t ku = X509_get_key_usage(x);  // first byte low, second high
  if (ku == UINT32_MAX) return Expected::Plain("-1");
  Expected e = Expected::Plain(std::to_string(((ku & 0xFF) << 8) | ((ku >> 8) & 0xFF)));
  const int size = ASN1_STRING_length(ExtensionValue(x, NID_key_usage));
  if (size != 4 && size != 5) e.Apply("-1", "keyUsage value of another size than 4 or 5 bytes");
  return e;
}

// basicConstraints cA: OpenSSL's CA flag where the extension is present.
Expected BasicConstraintsCa(X509* x) {
  const ASN1_OCTET_STRING* v = ExtensionValue(x, NID_basic_constraints);
  if (v == nullptr) return Expected::Plain("0");
  Expected e = Expected::Plain((X509_get_extension_flags(x) & EXFLAG_CA) != 0 ? "1" : "0");
  const std::string bytes = AsnText(v);
  const bool trueFirst = bytes.size() >= 5 && bytes.compare(2, 3, "\x01\x01\xFF") == 0;
  e.Apply(trueFirst ? "1" : "0", "cA read only as the bytes 01 01 FF");
  return e;
}

// The serial's content bytes without one leading zero byte (unless it is
// the whole number), as hex, with its last four bytes as a number.
Expected Serial(X509* x) {
  unsigned char* der = nullptr;
  const int n = i2d_ASN1_INTEGER(X509_get_serialNumber(x), &der);
  std::string content(der + 2, der + n);  // serials are shorter than 128 bytes
  OPENSSL_free(der);
  if (content.size() > 1 && content[0] == '\0') content.erase(0, 1);
  std::uint32_t low = 0;
  for (unsigned char b : content) low = (low << 8) | b;
  Expected e =
      Expected::Plain(Hex(content) + " #" + std::to_string(static_cast<std::int32_t>(low)));
  if (content.size() > 36) e.Refuse("serial over 36 bytes refused");
  return e;
}

// The validity time's text without its final "Z".
Expected Time(const ASN1_TIME* t) {
  std::string text = AsnText(t);
  if (!text.empty()) text.pop_back();
  return Expected::Plain(text);
}

// The key BIT STRING's content without its unused-bits byte; over 300 bytes
// it is refused.
Expected PublicKey(X509* x) {
  Expected e = Expected::Plain(Hex(AsnText(X509_get0_pubkey_bitstr(x))));
  if (ASN1_STRING_length(X509_get0_pubkey_bitstr(x)) > 300) e.Refuse("key over 300 bytes refused");
  return e;
}

// ---- Comparison and tally --------------------------------------------------------

class Tally {
 public:
  // Asks `item` of `c` and compares the answer with `e`.
  void Check(const BundleCert& c, std::uint32_t item, Shape shape, const Expected& e) {
    const Reply r = Ask(c.der, item, shape);
    const std::string where = c.label + ": item " + std::to_string(item);
    if (!r.fault.empty()) {
      failures_.push_back(where + ": " + r.fault);
    } else if (e.rules.empty() && r.rc == KX_OK && r.value == e.plain) {
      return;
    } else if (!e.rules.empty() && r.rc == e.rc && (r.rc != KX_OK || r.value == e.ruled)) {
      std::printf("  documented: %s: %s\n", where.c_str(), e.rules.c_str());
      ++exceptions_[e.rules];
      ++exceptionCount_;
    } else {
      std::string message = where + ": got " + std::to_string(r.rc) + " '" + r.value +
                            "', OpenSSL reads '" + e.plain + "'";
      if (!e.rules.empty()) {
        message +=
            ", the rules (" + e.rules + ") give " + std::to_string(e.rc) + " '" + e.ruled + "'";
      }
      failures_.push_back(message);
    }
  }

  const std::vector<std::string>& failures() const { return failures_; }

  std::string Summary(std::size_t certificates) const {
    std::string s = "CA bundle: " + std::to_string(certificates) + " certificates checked, " +
                    std::to_string(exceptionCount_) + " documented exceptions (";
    const char* separator = "";
    for (const auto& [rule, count] : exceptions_) {
      s += separator + rule + ": " + std::to_string(count);
      separator = "; ";
    }
    return s + ")";
  }

 private:
  std::map<std::string, int> exceptions_;
  int exceptionCount_ = 0;
  std::vector<std::string> failures_;
};

// The name items in field order: C, O, OU, ST, CN, L and email, with their
// issuer and subject codes.
struct NameItem {
  int nid;
  std::uint32_t issuerItem;
  std::uint32_t subjectItem;
  std::size_t fieldSize;
};
constexpr NameItem kNameItems[] = {
    {NID_countryName, KX_ITEM_ISSUER_COUNTRY, KX_ITEM_SUBJECT_COUNTRY, 20},
    {NID_organizationName, KX_ITEM_ISSUER_ORGANIZATION, KX_ITEM_SUBJECT_ORGANIZATION, 256},
    {NID_organizationalUnitName, KX_ITEM_ISSUER_ORGANIZATIONAL_UNIT,
     KX_ITEM_SUBJECT_ORGANIZATIONAL_UNIT, 256},
    {NID_stateOrProvinceName, KX_ITEM_ISSUER_STATE_OR_PROVINCE, KX_ITEM_SUBJECT_STATE_OR_PROVINCE,
     256},
    {NID_commonName, KX_ITEM_ISSUER_COMMON_NAME, KX_ITEM_SUBJECT_COMMON_NAME, 256},
    {NID_localityName, KX_ITEM_ISSUER_LOCALITY, KX_ITEM_SUBJECT_LOCALITY, 256},
    {NID_pkcs9_emailAddress, KX_ITEM_ISSUER_EMAIL, KX_ITEM_SUBJECT_EMAIL, 256},
};

// One value, else another when the first is empty (items 33 and 43).
Expected Else(const Expected& first, const Expected& second) {
  Expected e = Expected::Plain(first.plain.empty() ? second.plain : first.plain);
  const std::string ruled = first.ruled.empty() ? second.ruled : first.ruled;
  const std::string rules = first.rules.empty() || second.rules.empty()
                                ? first.rules + second.rules
                                : first.rules + ", " + second.rules;
  e.Apply(ruled, rules.c_str());
  return e;
}

void CheckCertificate(Tally& tally, const BundleCert& c) {
  X509* x = c.x509.get();
  const X509_NAME* issuer = X509_get_issuer_name(x);
  const X509_NAME* subject = X509_get_subject_name(x);

  const AltNames san = SubjectAltNames(x);
  for (const NameItem& n : kNameItems) {
    tally.Check(c, n.issuerItem, Shape::kText, NameField(issuer, n.nid, n.fieldSize));
    Expected s = NameField(subject, n.nid, n.fieldSize);
    if (n.subjectItem == KX_ITEM_SUBJECT_EMAIL) {
      tally.Check(c, KX_ITEM_SAN_EMAIL, Shape::kText, Else(san.email, s));
      s = Else(s, san.email);
    }
    tally.Check(c, n.subjectItem, Shape::kText, s);
  }
  tally.Check(c, KX_ITEM_VERSION, Shape::kNumber,
              Expected::Plain(std::to_string(X509_get_version(x) + 1)));
  tally.Check(c, KX_ITEM_SERIAL_NUMBER, Shape::kSerial, Serial(x));
  tally.Check(c, KX_ITEM_NOT_BEFORE, Shape::kText, Time(X509_get0_notBefore(x)));
  tally.Check(c, KX_ITEM_NOT_AFTER, Shape::kText, Time(X509_get0_notAfter(x)));
  tally.Check(c, KX_ITEM_PUBLIC_KEY, Shape::kKey, PublicKey(x));
  tally.Check(c, KX_ITEM_KEY_USAGE, Shape::kNumber, KeyUsage(x));
  tally.Check(c, KX_ITEM_BASIC_CONSTRAINTS_CA, Shape::kNumber, BasicConstraintsCa(x));
  tally.Check(c, KX_ITEM_SUBJECT_KEY_ID, Shape::kBytes, KeyId(X509_get0_subject_key_id(x)));
  tally.Check(c, KX_ITEM_AUTHORITY_KEY_ID, Shape::kBytes, KeyId(X509_get0_authority_key_id(x)));
  tally.Check(c, KX_ITEM_SAN_DNS_NAME, Shape::kText, san.dns);
  tally.Check(c, KX_ITEM_SAN_URI, Shape::kText, san.uri);
  tally.Check(c, KX_ITEM_CRL_DISTRIBUTION_POINT_1, Shape::kText, FirstDistributionPoint(x));
  tally.Check(c, KX_ITEM_OCSP_URL_1, Shape::kText, FirstOcspLocation(x));
}

TEST(CaBundle, EveryCertificateAnswersAsOpenSslReadsIt) {
  ASSERT_TRUE(fs::is_directory(kBundleDir))
      << kBundleDir << " is missing: the test set-up must install the Debian package "
      << "ca-certificates (scripts/setup.sh)";
  std::vector<std::string> unreadable;
  const std::vector<BundleCert> certs = LoadBundle(unreadable);
  ASSERT_GT(certs.size(), 100u) << "too few certificates read from " << kBundleDir;
  for (const std::string& file : unreadable)
    ADD_FAILURE() << file << ": OpenSSL read no certificate";

  Tally tally;
  for (const BundleCert& c : certs) {
    ASSERT_FALSE(c.der.empty()) << c.label << ": i2d_X509 failed";
    CheckCertificate(tally, c);
  }
  const std::string summary = tally.Summary(certs.size());
  std::printf("%s\n", summary.c_str());
  RecordProperty("summary", summary);
  for (const std::string& f : tally.failures()) ADD_FAILURE() << f;
}

}  // namespace
