// The extensions array of the certificate document against OpenSSL's parse of
// the same bytes: the sample certificates, the system's CA bundle, and
// certificates the openssl command line makes for the extensions those lack.
// Then values that do not parse, broken Extension framing, and an SCT list
// built byte by byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/ct.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "der/reader.h"
#include "document/parts.h"
#include "support/cert_builder.h"
#include "support/json_document.h"
#include "support/openssl_x509.h"
#include "support/samples.h"
#include "support/tlv_builder.h"

namespace {

using kxtest::AsnBytes;
using kxtest::AsnText;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::Tlv;
using nlohmann::json;

// The array WriteExtensions writes for an Extensions SEQUENCE's content, and
// whether it found the framing intact.
struct Written {
  bool framed;
  json array;
};
Written WriteArray(const Bytes& content) {
  const kx::der::Reader r = kx::der::MakeReader(content.data(), content.size());
  kx::document::JsonWriter sizing(nullptr, 0);
  (void)kx::document::WriteExtensions(r, sizing);
  std::string text(sizing.Length(), '\0');
  kx::document::JsonWriter writer(text.data(), text.size());
  const bool framed = kx::document::WriteExtensions(r, writer);
  json array = kxtest::ParseDocument(text);
  EXPECT_FALSE(array.is_discarded()) << text;
  return {framed, array};
}

// The content of a certificate's Extensions SEQUENCE (none for a v1 one).
Bytes ExtensionsOf(const Bytes& der) {
  kx::der::Reader r = kx::der::MakeReader(der.data(), der.size());
  kx::der::Element cert{}, tbs{}, field{}, extensions{};
  if (!kx::der::ReadElement(r, cert) || !kx::der::ReadElement(cert.content, tbs)) return {};
  while (kx::der::ReadElement(tbs.content, field)) {
    if (field.tag == 0xA3 && kx::der::ReadElement(field.content, extensions)) {
      return Bytes(extensions.content.pos, extensions.content.end);
    }
  }
  return {};
}

std::string HexOf(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : bytes) out += {kDigits[b >> 4], kDigits[b & 0xF]};
  return out;
}

std::string Dotted(const ASN1_OBJECT* oid) {
  char text[128];
  OBJ_obj2txt(text, sizeof text, oid, 1);
  return text;
}

// An IPv4 or IPv6 address's text back to its bytes.
Bytes AddressBytes(const std::string& text) {
  unsigned char bytes[16];
  const bool v6 = text.find(':') != std::string::npos;
  if (inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), bytes) != 1) return {};
  return Bytes(bytes, bytes + (v6 ? 16 : 4));
}

// Member i of an array (null past its end).
json Nth(json array, int i) {
  return array[static_cast<std::size_t>(i)];
}

void ExpectName(json actual, const GENERAL_NAME* name) {
  int type = 0;
  void* value = GENERAL_NAME_get0_value(name, &type);
  const auto* text = static_cast<const ASN1_STRING*>(value);
  switch (type) {
    case GEN_DNS: EXPECT_EQ(actual, json({{"type", "DNS"}, {"value", AsnText(text)}})); break;
    case GEN_EMAIL: EXPECT_EQ(actual, json({{"type", "email"}, {"value", AsnText(text)}})); break;
    case GEN_URI: EXPECT_EQ(actual, json({{"type", "URI"}, {"value", AsnText(text)}})); break;
    case GEN_IPADD:
      EXPECT_EQ(actual["type"], "IP");
      EXPECT_EQ(AddressBytes(actual["value"]), AsnBytes(text)) << actual["value"];
      break;
    case GEN_RID:
      EXPECT_EQ(actual,
                json({{"type", "RID"}, {"value", Dotted(static_cast<ASN1_OBJECT*>(value))}}));
      break;
    case GEN_DIRNAME: EXPECT_EQ(actual["type"], "dirName"); break;
    case GEN_OTHERNAME:
      EXPECT_EQ(actual["type"], "otherName");
      EXPECT_EQ(actual["oid"], Dotted(static_cast<OTHERNAME*>(value)->type_id));
      break;
    default: EXPECT_EQ(actual["type"], type == GEN_X400 ? "x400Address" : "ediPartyName");
  }
}

void ExpectNames(json actual, const GENERAL_NAMES* names) {
  ASSERT_EQ(actual.size(), static_cast<std::size_t>(sk_GENERAL_NAME_num(names)));
  for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
    ExpectName(Nth(actual, i), sk_GENERAL_NAME_value(names, i));
  }
}

// The names of the bits OpenSSL finds set.
json SetBits(const ASN1_BIT_STRING* bits, const std::vector<std::string>& names) {
  json out = json::array();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (ASN1_BIT_STRING_get_bit(bits, static_cast<int>(i)) != 0) out.push_back(names[i]);
  }
  return out;
}

// OpenSSL's parse of an extension's value, freed by the extension's method.
struct Parsed {
  explicit Parsed(X509_EXTENSION* ext) : method(X509V3_EXT_get(ext)), value(X509V3_EXT_d2i(ext)) {}
  ~Parsed() {
    if (value == nullptr) return;
    if (method->it != nullptr) {
      ASN1_item_free(static_cast<ASN1_VALUE*>(value), ASN1_ITEM_ptr(method->it));
    } else {
      method->ext_free(value);
    }
  }
  template <typename T>
  T* As() const {
    return static_cast<T*>(value);
  }
  const X509V3_EXT_METHOD* method;
  void* value;
};

// What the document says an extension means, against OpenSSL's reading.
void ExpectMeaning(int nid, const Parsed& p, json e) {
  switch (nid) {
    case NID_subject_alt_name:
    case NID_issuer_alt_name: ExpectNames(e["names"], p.As<GENERAL_NAMES>()); break;
    case NID_key_usage:
      EXPECT_EQ(e["usages"], SetBits(p.As<ASN1_BIT_STRING>(),
                                     {"digitalSignature", "nonRepudiation", "keyEncipherment",
                                      "dataEncipherment", "keyAgreement", "keyCertSign", "cRLSign",
                                      "encipherOnly", "decipherOnly"}));
      break;
    case NID_ext_key_usage: {
      auto* purposes = p.As<EXTENDED_KEY_USAGE>();
      ASSERT_EQ(e["purposes"].size(), static_cast<std::size_t>(sk_ASN1_OBJECT_num(purposes)));
      for (int i = 0; i < sk_ASN1_OBJECT_num(purposes); ++i) {
        EXPECT_EQ(Nth(e["purposes"], i)["oid"], Dotted(sk_ASN1_OBJECT_value(purposes, i)));
      }
      break;
    }
    case NID_basic_constraints: {
      auto* bc = p.As<BASIC_CONSTRAINTS>();
      EXPECT_EQ(e["cA"], bc->ca != 0);
      EXPECT_EQ(e.contains("pathLenConstraint"), bc->pathlen != nullptr);
      if (bc->pathlen != nullptr) {
        EXPECT_EQ(e["pathLenConstraint"], ASN1_INTEGER_get(bc->pathlen));
      }
      break;
    }
    case NID_subject_key_identifier:
      EXPECT_EQ(e["keyIdentifier"], HexOf(AsnBytes(p.As<ASN1_OCTET_STRING>())));
      break;
    case NID_authority_key_identifier: {
      auto* aki = p.As<AUTHORITY_KEYID>();
      EXPECT_EQ(e.value("keyIdentifier", "-"), aki->keyid ? HexOf(AsnBytes(aki->keyid)) : "-");
      if (aki->issuer != nullptr) ExpectNames(e["authorityCertIssuer"], aki->issuer);
      EXPECT_EQ(e.contains("authorityCertSerialNumber"), aki->serial != nullptr);
      break;
    }
    case NID_crl_distribution_points:
    case NID_freshest_crl: {
      auto* points = p.As<CRL_DIST_POINTS>();
      ASSERT_EQ(e["points"].size(), static_cast<std::size_t>(sk_DIST_POINT_num(points)));
      for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
        const DIST_POINT* dp = sk_DIST_POINT_value(points, i);
        json point = Nth(e["points"], i);
        if (dp->distpoint != nullptr && dp->distpoint->type == 0) {
          ExpectNames(point["fullName"], dp->distpoint->name.fullname);
        }
        EXPECT_EQ(point.contains("nameRelativeToCRLIssuer"),
                  dp->distpoint != nullptr && dp->distpoint->type == 1);
        if (dp->CRLissuer != nullptr) ExpectNames(point["cRLIssuer"], dp->CRLissuer);
      }
      break;
    }
    case NID_info_access:
    case NID_sinfo_access: {
      auto* access = p.As<AUTHORITY_INFO_ACCESS>();
      ASSERT_EQ(e["descriptions"].size(),
                static_cast<std::size_t>(sk_ACCESS_DESCRIPTION_num(access)));
      for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access); ++i) {
        const ACCESS_DESCRIPTION* d = sk_ACCESS_DESCRIPTION_value(access, i);
        EXPECT_EQ(Nth(e["descriptions"], i)["method"]["oid"], Dotted(d->method));
        ExpectName(Nth(e["descriptions"], i)["location"], d->location);
      }
      break;
    }
    case NID_certificate_policies: {
      auto* policies = p.As<CERTIFICATEPOLICIES>();
      ASSERT_EQ(e["policies"].size(), static_cast<std::size_t>(sk_POLICYINFO_num(policies)));
      for (int i = 0; i < sk_POLICYINFO_num(policies); ++i) {
        const POLICYINFO* info = sk_POLICYINFO_value(policies, i);
        json policy = Nth(e["policies"], i);
        EXPECT_EQ(policy["oid"], Dotted(info->policyid));
        json cps = json::array();
        for (int q = 0; q < sk_POLICYQUALINFO_num(info->qualifiers); ++q) {
          const POLICYQUALINFO* qual = sk_POLICYQUALINFO_value(info->qualifiers, q);
          if (OBJ_obj2nid(qual->pqualid) == NID_id_qt_cps) cps.push_back(AsnText(qual->d.cpsuri));
        }
        EXPECT_EQ(policy.value("cps", json::array()), cps);
      }
      break;
    }
    default: break;
  }
}

// Every extension against OpenSSL: identifier, flag and value bytes; no
// error where OpenSSL reads the value, and the same meaning.
void ExpectMatchesOpenSsl(X509* x, const Bytes& der) {
  Written w = WriteArray(ExtensionsOf(der));
  EXPECT_TRUE(w.framed);
  ASSERT_EQ(w.array.size(), static_cast<std::size_t>(X509_get_ext_count(x)));
  for (int i = 0; i < X509_get_ext_count(x); ++i) {
    X509_EXTENSION* ext = X509_get_ext(x, i);
    json e = Nth(w.array, i);
    SCOPED_TRACE(e.dump());
    EXPECT_EQ(e["oid"], Dotted(X509_EXTENSION_get_object(ext)));
    EXPECT_EQ(e["critical"], X509_EXTENSION_get_critical(ext) != 0);
    EXPECT_EQ(e["value"], HexOf(AsnBytes(X509_EXTENSION_get_data(ext))));
    const Parsed parsed(ext);
    if (parsed.value == nullptr) continue;
    EXPECT_FALSE(e.contains("error"));
    ExpectMeaning(OBJ_obj2nid(X509_EXTENSION_get_object(ext)), parsed, e);
  }
}

TEST(DocumentExtensionsOpenSsl, SampleCertificates) {
  for (const auto& path : kxtest::CertificateSamples()) {
    SCOPED_TRACE(path.string());
    const Bytes der = kxtest::ReadSample(path);
    const unsigned char* p = der.data();
    const kxtest::X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_NE(x, nullptr);
    ExpectMatchesOpenSsl(x.get(), der);
  }
}

TEST(DocumentExtensionsOpenSsl, SystemCaBundle) {
  BIO* bio = BIO_new_file("/etc/ssl/certs/ca-certificates.crt", "r");
  if (bio == nullptr) GTEST_SKIP() << "no CA bundle";
  int count = 0;
  for (X509* raw = nullptr; (raw = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) != nullptr;) {
    const kxtest::X509Ptr x(raw);
    unsigned char* der = nullptr;
    const int length = i2d_X509(x.get(), &der);
    const Bytes bytes(der, der + length);
    OPENSSL_free(der);
    SCOPED_TRACE(++count);
    ExpectMatchesOpenSsl(x.get(), bytes);
  }
  BIO_free(bio);
  EXPECT_GT(count, 0);
}

// A self-signed certificate from the openssl command line, its [ext] section
// holding `ext`, followed by any `sections` it refers to.
Bytes MakeCertificate(const std::string& ext, const std::string& sections) {
  std::string dir = (std::filesystem::temp_directory_path() / "kx-ext-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return {};
  std::ofstream(dir + "/c.cnf") << "[req]\ndistinguished_name = dn\nx509_extensions = ext\n"
                                << "prompt = no\n[dn]\nCN = x\n[ext]\n"
                                << ext << "\n"
                                << sections << "\n";
  const std::string command = "cd '" + dir +
                              "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                              "-nodes -keyout k.pem -config c.cnf -outform DER -out c.der 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r"); pipe != nullptr) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    EXPECT_EQ(pclose(pipe), 0) << output;
  }
  const Bytes der = kxtest::ReadFile(dir + "/c.der");
  std::filesystem::remove_all(dir);
  return der;
}

struct Generated {
  std::string ext;
  std::string sections;
  std::string oid;
  std::string expected;  // members the extension's object must hold
};

const Generated kGenerated[] = {
    {"nameConstraints = critical, permitted;DNS:example.com, permitted;email:.example.com, "
     "excluded;IP:10.0.0.0/255.0.0.0, excluded;IP:2001:db8::/ffff:ffff::",
     "", "2.5.29.30",
     R"({"critical": true,
         "permitted": [{"type": "DNS", "value": "example.com"},
                       {"type": "email", "value": ".example.com"}],
         "excluded": [{"type": "IP", "value": "10.0.0.0/255.0.0.0"},
                      {"type": "IP", "value": "2001:db8::/ffff:ffff::"}]})"},
    {"certificatePolicies = ia5org, 1.2.3.4, @policy",
     "[policy]\npolicyIdentifier = 1.3.6.1.4.1.99999.7\nCPS.1 = https://cps.example/one\n"
     "CPS.2 = https://cps.example/two\nuserNotice.1 = @notice\n"
     "[notice]\nexplicitText = \"Read this\"\norganization = \"Example Org\"\n"
     "noticeNumbers = 1, 2, 300\n",
     "2.5.29.32",
     R"({"policies": [{"oid": "1.2.3.4"},
                      {"oid": "1.3.6.1.4.1.99999.7",
                       "cps": ["https://cps.example/one", "https://cps.example/two"],
                       "userNotices": [{"organization": "Example Org", "noticeNumbers": [1, 2, 300],
                                        "explicitText": "Read this"}]}]})"},
    {"policyConstraints = requireExplicitPolicy:1, inhibitPolicyMapping:2", "", "2.5.29.36",
     R"({"requireExplicitPolicy": 1, "inhibitPolicyMapping": 2})"},
    {"inhibitAnyPolicy = 3", "", "2.5.29.54", R"({"skipCerts": 3})"},
    {"policyMappings = 1.2.3.4:1.2.3.5", "", "2.5.29.33",
     R"({"mappings": [{"issuerDomainPolicy": "1.2.3.4", "subjectDomainPolicy": "1.2.3.5"}]})"},
    {"tlsfeature = status_request, status_request_v2", "", "1.3.6.1.5.5.7.1.24",
     R"({"features": [5, 17]})"},
    {"nsCertType = client, email, objCA", "", "2.16.840.1.113730.1.1",
     R"({"types": ["client", "email", "objCA"]})"},
    {"nsComment = \"hello, world\"", "", "2.16.840.1.113730.1.13",
     R"({"comment": "hello, world"})"},
    {"1.3.6.1.4.1.11129.2.4.3 = critical, DER:0500", "", "1.3.6.1.4.1.11129.2.4.3",
     R"({"critical": true, "poison": true, "value": "0500"})"},
    {"keyUsage = critical, digitalSignature, keyAgreement, decipherOnly", "", "2.5.29.15",
     R"({"usages": ["digitalSignature", "keyAgreement", "decipherOnly"]})"},
    {"basicConstraints = critical, CA:true, pathlen:3", "", "2.5.29.19",
     R"({"cA": true, "pathLenConstraint": 3})"},
    {"crlDistributionPoints = full, relative\nfreshestCRL = URI:http://crl.example/delta.crl",
     "[full]\nfullname = URI:http://crl.example/a.crl\nreasons = keyCompromise, AACompromise\n"
     "CRLissuer = email:crl@example.com\n[relative]\nrelativename = rdn\n[rdn]\nCN = crl\n",
     "2.5.29.31",
     R"({"points": [{"fullName": [{"type": "URI", "value": "http://crl.example/a.crl"}],
                     "reasons": ["keyCompromise", "aACompromise"],
                     "cRLIssuer": [{"type": "email", "value": "crl@example.com"}]},
                    {"nameRelativeToCRLIssuer": "300a06035504030c0363726c"}]})"},
    {"subjectAltName = IP:2001:db8::1, IP:192.0.2.1, RID:1.2.3.4, "
     "otherName:1.3.6.1.4.1.311.20.2.3;UTF8:u@example.com\n"
     "issuerAltName = email:ca@example.com\n"
     "subjectInfoAccess = caRepository;URI:http://repo.example/\n"
     "authorityKeyIdentifier = keyid:always, issuer:always",
     "", "2.5.29.18", R"({"names": [{"type": "email", "value": "ca@example.com"}]})"},
    // The private values the items read, as name attributes are written.
    {"1.3.6.1.4.1.5315.100.5.9 = ASN1:FORMAT:UTF8,UTF8String:Ünï 测试", "",
     "1.3.6.1.4.1.5315.100.5.9",
     R"({"privateValue": {"type": "UTF8String", "value": "Ünï 测试"}})"},
    {"2.16.840.1.113731.29 = ASN1:BMPSTRING:bmp text", "", "2.16.840.1.113731.29",
     R"({"privateValue": {"type": "BMPString", "value": "bmp text"}})"},
    {"1.3.6.1.4.1.5315.100.2.2 = ASN1:INTEGER:258", "", "1.3.6.1.4.1.5315.100.2.2",
     R"({"privateValue": {"type": "tag 2", "valueHex": "0102"}, "number": 258})"},
};

TEST(DocumentExtensionsGenerated, MeaningOfEachExtension) {
  for (const Generated& row : kGenerated) {
    SCOPED_TRACE(row.ext);
    const Bytes der = MakeCertificate(row.ext, row.sections);
    const unsigned char* p = der.data();
    const kxtest::X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_NE(x, nullptr);
    ExpectMatchesOpenSsl(x.get(), der);
    json array = WriteArray(ExtensionsOf(der)).array;
    const auto e = std::find_if(array.begin(), array.end(),
                                [&](const json& item) { return item.value("oid", "") == row.oid; });
    ASSERT_NE(e, array.end());
    const json expected = json::parse(row.expected);
    for (const auto& [key, value] : expected.items()) {
      EXPECT_EQ((*e)[key], value) << key;
    }
  }
}

// One Extension, not critical.
Bytes Extension(const Bytes& oid, const Bytes& value) {
  return Tlv(0x30, Cat({kxtest::Oid(oid), Tlv(0x04, value)}));
}

const Bytes kOidPoison = {0x2B, 0x06, 0x01, 0x04, 0x01, 0xD6, 0x79, 0x02, 0x04, 0x03};
const Bytes kOidScts = {0x2B, 0x06, 0x01, 0x04, 0x01, 0xD6, 0x79, 0x02, 0x04, 0x02};
const Bytes kGoodFirst = Extension(kxtest::kOidSubjectKeyId, Tlv(0x04, {0x01, 0x02}));
const Bytes kGoodLast = Extension(kxtest::kOidBasicConstraints, Tlv(0x30, Tlv(0x01, {0xFF})));

TEST(DocumentExtensionsMalformed, ValueGetsErrorAndTheRestStays) {
  const Bytes qualifierWithout =
      Tlv(0x30, Tlv(0x30, Cat({kxtest::Oid({0x2A, 0x03}),
                               Tlv(0x30, Tlv(0x30, kxtest::Oid({0x2B, 6, 1, 5, 5, 7, 2, 1})))})));
  const struct {
    Bytes oid;
    Bytes value;
    std::string error;
  } kCases[] = {
      {kxtest::kOidKeyUsage, Tlv(0x04, {0x05, 0xA0}), "unexpected tag"},
      {kxtest::kOidKeyUsage, Tlv(0x03, {0x08, 0x80}), "invalid value"},
      {kxtest::kOidSan, Tlv(0x30, {0x82, 0x05, 'a', 'b'}), "malformed GeneralName"},
      {kxtest::kOidSan, Cat({Tlv(0x30, Tlv(0x82, {'a'})), {0x00}}), "bytes after the end"},
      {kxtest::kOidBasicConstraints, Tlv(0x30, Tlv(0x02, {0xFF})), "invalid value"},
      {kxtest::kOidBasicConstraints, Tlv(0x30, Tlv(0x02, {0x00, 0x01})), "invalid value"},
      {kxtest::kOidBasicConstraints, Tlv(0x30, Tlv(0x01, {0x01})), "invalid value"},
      {kxtest::kOidCrlDp, {}, "missing element"},
      {kxtest::kOidPolicies, qualifierWithout, "missing element"},
      {kOidPoison, Tlv(0x05, {0x00}), "invalid value"},
      {kOidScts, Tlv(0x04, {0x00, 0x05, 0x00, 0x03, 0x00}), "malformed SCT list"},
      {{0x2A, 0x56, 0x0B, 0x07, 0x01}, Cat({Tlv(0x0C, {'a'}), {0x00}}), "bytes after the end"},
      {{0x2A, 0x56, 0x0B, 0x07, 0x05}, {}, "missing element"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(HexOf(c.value));
    Written w = WriteArray(Cat({kGoodFirst, Extension(c.oid, c.value), kGoodLast}));
    EXPECT_TRUE(w.framed);
    ASSERT_EQ(w.array.size(), 3u);
    json bad = w.array[1];
    EXPECT_EQ(bad["error"], c.error);
    EXPECT_EQ(bad["value"], HexOf(c.value));
    for (const char* kept : {"oid", "critical", "value", "error", "name"}) bad.erase(kept);
    EXPECT_TRUE(bad.empty()) << bad.dump();  // no meaning beside the error
    EXPECT_EQ(w.array[0]["keyIdentifier"], "0102");
    EXPECT_EQ(w.array[2]["cA"], true);
  }
}

TEST(DocumentExtensionsMalformed, BrokenFramingClosesTheArray) {
  const Bytes oid = kxtest::Oid(kxtest::kOidSubjectKeyId);
  const Bytes value = Tlv(0x04, Tlv(0x04, {0x01}));
  const Bytes kCases[] = {
      Tlv(0x30, Cat({oid, Tlv(0x01, {0x01}), value})),        // critical neither 00 nor FF
      Tlv(0x30, Cat({oid, Tlv(0x01, {0xFF, 0xFF}), value})),  // critical of two bytes
      Tlv(0x30, Cat({oid, Tlv(0x05, {})})),                   // extnValue not an OCTET STRING
      Tlv(0x30, Cat({oid, value, {0x00}})),                   // a byte behind extnValue
      Tlv(0x30, value),                                       // no extnID
      {0x30, 0x10, 0x06, 0x03},                               // runs past the end
      {0x00},                                                 // a stray byte
  };
  for (const Bytes& broken : kCases) {
    SCOPED_TRACE(HexOf(broken));
    Written w = WriteArray(Cat({kGoodFirst, broken, kGoodLast}));
    EXPECT_FALSE(w.framed);
    ASSERT_EQ(w.array.size(), 1u);
    EXPECT_EQ(w.array[0]["keyIdentifier"], "0102");
  }
}

TEST(DocumentExtensionsValues, IntegersAndAnExplicitFalse) {
  // TLS features from one byte to past 64 bits, under a critical flag
  // written out as FALSE.
  const Bytes features = Tlv(0x30, Cat({Tlv(0x02, {0xFF}), Tlv(0x02, {0x05}),
                                        Tlv(0x02, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
                                        Tlv(0x02, {0x80, 0, 0, 0, 0, 0, 0, 0}),
                                        Tlv(0x02, {0x01, 0, 0, 0, 0, 0, 0, 0, 0})}));
  const Bytes extension =
      Tlv(0x30, Cat({kxtest::Oid({0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x18}),
                     Tlv(0x01, {0x00}), Tlv(0x04, features)}));
  Written w = WriteArray(extension);
  ASSERT_TRUE(w.framed);
  EXPECT_EQ(w.array[0]["critical"], false);
  EXPECT_EQ(w.array[0]["features"],
            json::parse(R"([-1, 5, 9223372036854775807, -9223372036854775808,
                            "010000000000000000"])"));
}

// TLS's opaque<0..2^16-1>: a two-byte length, then the bytes.
Bytes Prefixed(const Bytes& bytes) {
  return Cat(
      {{static_cast<std::uint8_t>(bytes.size() >> 8), static_cast<std::uint8_t>(bytes.size())},
       bytes});
}

TEST(DocumentExtensionsScts, HandBuiltListAgainstOpenSsl) {
  const struct {
    std::uint64_t ms;
    std::string iso;
  } kTimes[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951868800000, "2000-03-01T00:00:00.000Z"},
      {1672531200123, "2023-01-01T00:00:00.123Z"},
      {1709251199999, "2024-02-29T23:59:59.999Z"},
      {4133939696789, "2100-12-31T12:34:56.789Z"},
  };
  Bytes list;
  for (std::size_t i = 0; i < std::size(kTimes); ++i) {
    Bytes timestamp;
    for (int shift = 56; shift >= 0; shift -= 8) {
      timestamp.push_back(static_cast<std::uint8_t>(kTimes[i].ms >> shift));
    }
    const Bytes sct = Cat({{0x00},
                           kxtest::Filler(32, static_cast<std::uint8_t>(i)),
                           timestamp,
                           Prefixed(Bytes(i, 0xEE)),
                           {0x04, 0x03},
                           Prefixed(kxtest::Filler(70, 0x30))});
    list = Cat({list, Prefixed(sct)});
  }
  const Bytes value = Tlv(0x04, Prefixed(list));

  // OpenSSL reads the same list the same way.
  const unsigned char* p = value.data();
  STACK_OF(SCT)* scts = d2i_SCT_LIST(nullptr, &p, static_cast<long>(value.size()));
  ASSERT_NE(scts, nullptr);
  ASSERT_EQ(sk_SCT_num(scts), static_cast<int>(std::size(kTimes)));

  Written w = WriteArray(Cat({Extension(kOidScts, value), kGoodLast}));
  ASSERT_TRUE(w.framed);
  json& written = w.array[0]["scts"];
  ASSERT_EQ(written.size(), std::size(kTimes));
  for (int i = 0; i < sk_SCT_num(scts); ++i) {
    const SCT* sct = sk_SCT_value(scts, i);
    json e = Nth(written, i);
    SCOPED_TRACE(e.dump());
    unsigned char* bytes = nullptr;
    EXPECT_EQ(e["version"], SCT_get_version(sct) + 1);
    EXPECT_EQ(SCT_get_timestamp(sct), kTimes[i].ms);
    EXPECT_EQ(e["timestamp"], kTimes[i].iso);
    std::size_t n = SCT_get0_log_id(sct, &bytes);
    EXPECT_EQ(e["logId"], HexOf(Bytes(bytes, bytes + n)));
    n = SCT_get0_extensions(sct, &bytes);
    EXPECT_EQ(e["extensions"], HexOf(Bytes(bytes, bytes + n)));
    n = SCT_get0_signature(sct, &bytes);
    EXPECT_EQ(e["signature"], HexOf(Bytes(bytes, bytes + n)));
    EXPECT_EQ(e["hashAlgorithm"], 4);
    EXPECT_EQ(e["signatureAlgorithm"], 3);
  }
  SCT_LIST_free(scts);
}

}  // namespace
