// The certificate document of every sample certificate and every
// certificate of the system CA bundle, and the request document of every
// sample request, parsed as JSON and held against OpenSSL's reading of the
// same bytes: version, serial, algorithms, every name attribute in order
// with its type, the validity, the key, the extensions' OIDs and critical
// flags, the attributes, the signature. Then framing faults.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cstdint>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "document/document.h"
#include "support/cert_builder.h"
#include "support/json_document.h"
#include "support/openssl_x509.h"
#include "support/samples.h"
#include "support/tlv_builder.h"

namespace {

using Json = nlohmann::json;
using kxtest::AsnUtf8;
using kxtest::Bytes;

// The document of `der` and its status, checked to be whole and valid JSON.
Json Document(const Bytes& der, kx::document::DocumentFault* fault = nullptr) {
  std::vector<char> out(der.size() * 4 + 4096);
  kx::document::JsonWriter writer(out.data(), out.size());
  const auto f =
      kx::document::WriteCertificateDocument(kx::der::MakeReader(der.data(), der.size()), writer);
  if (fault != nullptr) *fault = f;
  EXPECT_TRUE(writer.Fits());
  Json doc = kxtest::ParseDocument(std::string_view(out.data(), writer.Length()));
  EXPECT_FALSE(doc.is_discarded()) << std::string(out.data(), writer.Length());
  return doc;
}

std::string Dotted(const ASN1_OBJECT* o) {
  char text[128];
  OBJ_obj2txt(text, sizeof text, o, 1);
  return text;
}

std::string Hex(const unsigned char* p, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    s += "0123456789abcdef"[p[i] >> 4];
    s += "0123456789abcdef"[p[i] & 15];
  }
  return s;
}

std::string Iso(const ASN1_TIME* t) {
  std::tm tm{};
  if (ASN1_TIME_to_tm(t, &tm) != 1) return "<unreadable>";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// A string type's name as OpenSSL spells it: capitals, T61 for Teletex.
std::string OpenSslTypeName(const std::string& name) {
  std::string upper;
  for (const char c : name == "TeletexString" ? std::string("T61String") : name) {
    upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

// Every attribute of `name` in order, with its type and text, as the
// document lists them (RDN by RDN).
void ExpectName(const Json& got, const X509_NAME* name, const std::string& where) {
  std::vector<Json> flat;
  for (const Json& rdn : got.at("rdns")) {
    for (const Json& a : rdn) flat.push_back(a);
  }
  ASSERT_EQ(flat.size(), static_cast<std::size_t>(X509_NAME_entry_count(name))) << where;
  int previousSet = -1;
  std::size_t rdns = 0;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    if (X509_NAME_ENTRY_set(e) != previousSet) ++rdns;
    previousSet = X509_NAME_ENTRY_set(e);
    const Json& a = flat[static_cast<std::size_t>(i)];
    EXPECT_EQ(a.at("oid"), Dotted(X509_NAME_ENTRY_get_object(e))) << where;
    const ASN1_STRING* v = X509_NAME_ENTRY_get_data(e);
    EXPECT_EQ(OpenSslTypeName(a.at("type")), ASN1_tag2str(ASN1_STRING_type(v))) << where;
    if (ASN1_STRING_type(v) != V_ASN1_T61STRING) {  // OpenSSL reads T61 as Latin-1 too
      EXPECT_EQ(a.value("value", ""), AsnUtf8(v)) << where << " " << a.dump();
    }
  }
  EXPECT_EQ(got.at("rdns").size(), rdns) << where;
}

void ExpectCertificate(const Bytes& der, const std::string& where) {
  const unsigned char* p = der.data();
  const kxtest::X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  ASSERT_NE(x, nullptr) << where;
  kx::document::DocumentFault fault{};
  const Json doc = Document(der, &fault);
  ASSERT_EQ(fault, kx::document::DocumentFault::kNone) << where << " " << doc.dump();
  EXPECT_EQ(doc.at("kestrix_document"), 2);
  EXPECT_EQ(doc.at("version"), X509_get_version(x.get()) + 1) << where;

  BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(x.get()), nullptr);
  char* decimal = BN_bn2dec(serial);
  EXPECT_EQ(doc.at("serialNumberDecimal"), decimal) << where;
  OPENSSL_free(decimal);
  BN_free(serial);

  const X509_ALGOR* sigAlg = nullptr;
  const ASN1_BIT_STRING* sig = nullptr;
  X509_get0_signature(&sig, &sigAlg, x.get());
  const ASN1_OBJECT* sigOid = nullptr;
  X509_ALGOR_get0(&sigOid, nullptr, nullptr, sigAlg);
  EXPECT_EQ(doc.at("signatureAlgorithm").at("oid"), Dotted(sigOid)) << where;
  if (OBJ_obj2nid(sigOid) != NID_undef) {
    EXPECT_EQ(doc.at("signatureAlgorithm").at("name"), OBJ_nid2ln(OBJ_obj2nid(sigOid))) << where;
  }
  EXPECT_EQ(doc.at("signatureValue"), Hex(sig->data, sig->length)) << where;

  ExpectName(doc.at("issuer"), X509_get_issuer_name(x.get()), where + " issuer");
  ExpectName(doc.at("subject"), X509_get_subject_name(x.get()), where + " subject");
  EXPECT_EQ(doc.at("validity").at("notBefore"), Iso(X509_get0_notBefore(x.get()))) << where;
  EXPECT_EQ(doc.at("validity").at("notAfter"), Iso(X509_get0_notAfter(x.get()))) << where;

  const Json& spki = doc.at("subjectPublicKeyInfo");
  const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(x.get());
  EXPECT_EQ(spki.at("key"), Hex(key->data, key->length)) << where;
  if (EVP_PKEY* pkey = X509_get0_pubkey(x.get()); pkey != nullptr) {
    EXPECT_EQ(spki.value("bits", 0), EVP_PKEY_get_bits(pkey)) << where;
    char curve[64] = {};
    if (EVP_PKEY_get_utf8_string_param(pkey, "group", curve, sizeof curve, nullptr) == 1) {
      // A curve spelt out in the parameters is not matched to its name.
      if (spki.contains("curve")) {
        EXPECT_EQ(spki.at("curve").at("name"), curve) << where;
      } else {
        EXPECT_TRUE(spki.at("algorithm").contains("parameters")) << where;
      }
    }
    BIGNUM* e = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, "e", &e) == 1) {
      EXPECT_EQ(spki.at("exponent"), BN_get_word(e)) << where;
      BN_free(e);
    }
  }

  const Json& extensions = doc.at("extensions");
  ASSERT_EQ(extensions.size(), static_cast<std::size_t>(X509_get_ext_count(x.get()))) << where;
  for (int i = 0; i < X509_get_ext_count(x.get()); ++i) {
    X509_EXTENSION* e = X509_get_ext(x.get(), i);
    const Json& got = extensions[static_cast<std::size_t>(i)];
    EXPECT_EQ(got.at("oid"), Dotted(X509_EXTENSION_get_object(e))) << where;
    EXPECT_EQ(got.at("critical"), X509_EXTENSION_get_critical(e) != 0) << where;
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(e);
    EXPECT_EQ(got.at("value"), Hex(value->data, value->length)) << where;
  }
}

TEST(CertificateDocument, EverySampleAsOpenSslReadsIt) {
  std::vector<std::filesystem::path> files =
      kxtest::FilesIn(kxtest::SamplesDir() / "certs", ".der");
  files.push_back(kxtest::SamplesDir() / "cert-rsa2048.der");
  ASSERT_GT(files.size(), 20u);
  for (const auto& file : files) ExpectCertificate(kxtest::ReadSample(file), file.filename());
}

TEST(CertificateDocument, EveryCaBundleCertificateAsOpenSslReadsIt) {
  BIO* bio = BIO_new_file("/etc/ssl/certs/ca-certificates.crt", "r");
  ASSERT_NE(bio, nullptr) << "the test set-up installs ca-certificates";
  int count = 0;
  while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    ExpectCertificate(Bytes(der, der + n), "bundle certificate " + std::to_string(count++));
    OPENSSL_free(der);
    X509_free(x);
  }
  BIO_free(bio);
  EXPECT_GT(count, 100);
}

TEST(RequestDocument, EverySampleAsOpenSslReadsIt) {
  const auto files = kxtest::FilesIn(kxtest::SamplesDir() / "requests", "");
  ASSERT_GT(files.size(), 12u);
  for (const auto& file : files) {
    if (file.extension() == ".txt") continue;
    const Bytes input = kxtest::ReadSample(file);
    const std::string where = file.filename();
    std::vector<char> out(input.size() * 4 + 4096);
    kx::document::JsonWriter writer(out.data(), out.size());
    ASSERT_EQ(
        kx::document::WriteRequestDocument(kx::der::MakeReader(input.data(), input.size()), writer),
        kx::document::DocumentFault::kNone)
        << where;
    const Json doc =
        Json::parse(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(writer.Length()));
    BIO* bio = BIO_new_mem_buf(input.data(), static_cast<int>(input.size()));
    X509_REQ* req = file.extension() == ".pem"
                        ? PEM_read_bio_X509_REQ(bio, nullptr, nullptr, nullptr)
                        : d2i_X509_REQ_bio(bio, nullptr);
    BIO_free(bio);
    ASSERT_NE(req, nullptr) << where;
    EXPECT_EQ(doc.at("type"), "request");
    EXPECT_EQ(doc.at("version"), X509_REQ_get_version(req) + 1) << where;
    ExpectName(doc.at("subject"), X509_REQ_get_subject_name(req), where);
    ASSERT_EQ(doc.at("attributes").size(), static_cast<std::size_t>(X509_REQ_get_attr_count(req)));
    for (int i = 0; i < X509_REQ_get_attr_count(req); ++i) {
      const X509_ATTRIBUTE* a = X509_REQ_get_attr(req, i);
      EXPECT_EQ(doc.at("attributes")[static_cast<std::size_t>(i)].at("oid"),
                Dotted(X509_ATTRIBUTE_get0_object(const_cast<X509_ATTRIBUTE*>(a))))
          << where;
    }
    const ASN1_BIT_STRING* sig = nullptr;
    X509_REQ_get0_signature(req, &sig, nullptr);
    EXPECT_EQ(doc.at("signatureValue"), Hex(sig->data, sig->length)) << where;
    X509_REQ_free(req);
  }
}

// Values the samples lack: names in every string type, the escapes of the
// RFC 4514 string, the serial's forms, the times' forms.
TEST(CertificateDocument, Pins) {
  const Json universal = Document(kxtest::ReadSample(kxtest::SamplesDir() / "certs/universal.der"));
  EXPECT_EQ(universal.at("subject").at("rfc4514"),
            "CN=Ünï 测试 😀 universal,O=Kestrix Ünïversal,C=DE");
  const Json multi =
      Document(kxtest::ReadSample(kxtest::SamplesDir() / "certs/multi-rdn-leaf.der"));
  EXPECT_EQ(multi.at("subject").at("rdns").size(), 5u);
  EXPECT_EQ(multi.at("subject").at("rdns")[1].size(), 2u) << "a multi-valued RDN kept together";
  const Json longValues =
      Document(kxtest::ReadSample(kxtest::SamplesDir() / "certs/long-values.der"));
  EXPECT_EQ(longValues.at("subject").at("rdns")[3][0].at("value").get<std::string>().size(), 500u);

  // Serials at the edges of the decimal conversion, against OpenSSL's.
  const Bytes kSerials[] = {{0x00},
                            {0xFF},
                            {0x3B, 0x9A, 0xCA, 0x00},
                            {0x80, 0, 0, 0, 0, 0, 0, 0, 0},
                            kxtest::Cat({{0x7F}, Bytes(19, 0xFF)}),
                            kxtest::Cat({{0x00, 0xFF}, Bytes(126, 0x00)})};
  for (const Bytes& serial : kSerials) {
    kxtest::CertParts parts;
    parts.serial = kxtest::Tlv(0x02, serial);
    const Bytes der = parts.Certificate();
    ExpectCertificate(der, "serial " + Hex(serial.data(), static_cast<int>(serial.size())));
  }
}

TEST(CertificateDocument, FramingFaultsSayWhere) {
  const Bytes good = kxtest::ReadSample(kxtest::SamplesDir() / "certs/v1-rsa1024.der");
  // Every cut of the certificate is refused with a small document, and
  // never read past.
  for (std::size_t cut = 0; cut < good.size(); cut += 7) {
    const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    kx::document::DocumentFault fault{};
    const Json doc = Document(part, &fault);
    EXPECT_EQ(fault, kx::document::DocumentFault::kMalformed) << cut;
    EXPECT_EQ(doc.at("error"), "malformed certificate") << cut;
    EXPECT_EQ(doc.at("offset"), 0) << cut;
  }
  // A broken name says so, with the offset of the fault.
  Bytes badName = good;
  const std::string text(good.begin(), good.end());
  const std::size_t at = text.find("\x06\x03\x55\x04\x06");  // the first countryName's OID
  ASSERT_NE(at, std::string::npos);
  badName[at] = 0x04;
  kx::document::DocumentFault fault{};
  const Json doc = Document(badName, &fault);
  EXPECT_EQ(fault, kx::document::DocumentFault::kMalformed);
  EXPECT_EQ(doc.at("error"), "malformed issuer");
  EXPECT_EQ(doc.at("offset"), at);
}

}  // namespace
