// RC_decodep10pemtxt: the requests in samples/requests/ (made by
// samples/make-request-samples.sh with the openssl command line) against
// OpenSSL's reading of the same text, and the armour search, line gathering
// and size rules on variations of one sample's text.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kestrix.h"
#include "request/p10.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path kDir = std::filesystem::path(KESTRIX_SAMPLES_DIR) / "requests";
const char* const kSamples[] = {"rsa1024-full-subject", "rsa2048", "rsa2048-challenge", "ec-p256",
                                "ed25519-cjk",          "dsa2048", "multi-rdn"};

std::string Sample(const std::string& name) {
  std::ifstream in(kDir / (name + ".pem"), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Result {
  std::int32_t rc;
  P10RequestInfo record;
};

// Runs the export on an exactly sized copy of `text` and a record filled
// with a pattern; a failure must leave the record as it was.
Result Decode(const std::string& text, std::int32_t size) {
  const std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  Result r{};
  std::memset(&r.record, 0xA5, sizeof r.record);
  const P10RequestInfo before = r.record;
  testing::internal::CaptureStdout();
  r.rc = RC_decodep10pemtxt(copy.get(), size, &r.record);
  testing::internal::GetCapturedStdout();
  if (r.rc != 0) {
    EXPECT_EQ(std::memcmp(&r.record, &before, sizeof before), 0) << "a failure wrote to the record";
  }
  return r;
}
Result Decode(const std::string& text) {
  return Decode(text, static_cast<std::int32_t>(text.size()));
}

bool SameRecord(const P10RequestInfo& a, const P10RequestInfo& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

// The Base64 characters between the armour lines.
std::string Body(const std::string& pem) {
  const std::size_t from = pem.find('\n') + 1;
  return Replace(pem.substr(from, pem.find("-----END") - from), "\n", "");
}

const std::string kBegin = "-----BEGIN CERTIFICATE REQUEST-----";
const std::string kEnd = "-----END CERTIFICATE REQUEST-----\n";

// A body in lines of `width` characters.
std::string Lines(const std::string& body, std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < body.size(); i += width) out += body.substr(i, width) + "\n";
  return out;
}

// ---- Samples against OpenSSL --------------------------------------------------

struct ReqFree {
  void operator()(X509_REQ* r) const { X509_REQ_free(r); }
};

std::unique_ptr<X509_REQ, ReqFree> Parse(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509_REQ* req = PEM_read_bio_X509_REQ(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return std::unique_ptr<X509_REQ, ReqFree>(req);
}

// The text of the last entry of `nid`, "" when there is none.
std::string Last(X509_NAME* name, int nid) {
  int at = -1;
  for (int i = X509_NAME_get_index_by_NID(name, nid, -1); i >= 0;
       i = X509_NAME_get_index_by_NID(name, nid, i)) {
    at = i;
  }
  if (at < 0) return "";
  unsigned char* out = nullptr;
  const int n = ASN1_STRING_to_UTF8(&out, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
  std::string text(out, out + std::max(n, 0));
  OPENSSL_free(out);
  return text;
}

std::int32_t AlgCode(const ASN1_OBJECT* oid) {
  switch (OBJ_obj2nid(oid)) {
    case NID_sha1WithRSAEncryption: return 4;
    case NID_rsaEncryption: return 5;
    case NID_dsa: return 7;
    default: return -1;
  }
}

// A text field holds `want` and its terminator, and nothing behind them was written.
void ExpectField(const char* field, std::size_t width, const std::string& want, const char* what) {
  ASSERT_LT(want.size(), width) << what;
  EXPECT_EQ(std::string(field, want.size() + 1), want + '\0') << what;
  const std::string rest(field + want.size() + 1, field + width);
  EXPECT_EQ(rest, std::string(rest.size(), '\xA5')) << what << ": written past the terminator";
}

class RequestSample : public ::testing::TestWithParam<const char*> {};

TEST_P(RequestSample, DecodesAsOpenSslReadsIt) {
  const std::string pem = Sample(GetParam());
  const auto req = Parse(pem);
  ASSERT_NE(req, nullptr) << "sample missing or unreadable";
  const Result r = Decode(pem);
  ASSERT_EQ(r.rc, 0);
  const P10RequestInfo& got = r.record;

  X509_NAME* subject = X509_REQ_get_subject_name(req.get());
  ExpectField(got.country, 20, Last(subject, NID_countryName), "C");
  ExpectField(got.organization, 256, Last(subject, NID_organizationName), "O");
  ExpectField(got.organizationalUnit, 256, Last(subject, NID_organizationalUnitName), "OU");
  ExpectField(got.stateOrProvince, 256, Last(subject, NID_stateOrProvinceName), "ST");
  ExpectField(got.commonName, 256, Last(subject, NID_commonName), "CN");
  ExpectField(got.locality, 256, Last(subject, NID_localityName), "L");
  ExpectField(got.email, 256, Last(subject, NID_pkcs9_emailAddress), "emailAddress");

  const unsigned char* key = nullptr;
  int keyLen = 0;
  X509_ALGOR* keyAlg = nullptr;
  ASSERT_EQ(
      X509_PUBKEY_get0_param(nullptr, &key, &keyLen, &keyAlg, X509_REQ_get_X509_PUBKEY(req.get())),
      1);
  ASSERT_EQ(got.publicKeyLen, keyLen);
  EXPECT_EQ(Bytes(got.publicKey, got.publicKey + keyLen), Bytes(key, key + keyLen));
  EXPECT_EQ(Bytes(got.publicKey + keyLen, got.publicKey + 300), Bytes(300 - keyLen, 0xA5));

  // The CRLF text, the NEW armour, and a size that just holds the body give the same record.
  for (const std::string& variant :
       {Replace(pem, "\n", "\r\n"),
        Replace(pem, "CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST")}) {
    const Result v = Decode(variant);
    EXPECT_EQ(v.rc, 0);
    EXPECT_TRUE(SameRecord(v.record, got));
  }
  const Result exact = Decode(pem, static_cast<std::int32_t>(Body(pem).size()));
  EXPECT_EQ(exact.rc, 0);
  EXPECT_TRUE(SameRecord(exact.record, got));

  // One level down: the algorithm codes and the signature.
  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* sigAlg = nullptr;
  X509_REQ_get0_signature(req.get(), &signature, &sigAlg);
  unsigned char* der = nullptr;
  const int derLen = i2d_X509_REQ(req.get(), &der);
  const Bytes bytes(der, der + std::max(derLen, 0));
  OPENSSL_free(der);
  auto decoded = std::make_unique<kx::request::P10Request>();
  ASSERT_EQ(
      kx::request::DecodePKCS10Request(kx::der::MakeReader(bytes.data(), bytes.size()), *decoded),
      kx::Fault::kNone);
  EXPECT_EQ(decoded->publicKeyAlg, AlgCode(keyAlg->algorithm));
  EXPECT_EQ(decoded->signatureAlg, AlgCode(sigAlg->algorithm));
  EXPECT_EQ(Bytes(decoded->signature, decoded->signature + decoded->signatureLen),
            Bytes(signature->data, signature->data + signature->length));
}

INSTANTIATE_TEST_SUITE_P(Samples, RequestSample, ::testing::ValuesIn(kSamples),
                         [](const auto& p) { return Replace(p.param, "-", "_"); });

// What the samples were made to show, pinned.
TEST(RequestSamples, ShowWhatTheyWereMadeFor) {
  const Result rsa1024 = Decode(Sample("rsa1024-full-subject")),
               rsa2048 = Decode(Sample("rsa2048")), challenge = Decode(Sample("rsa2048-challenge")),
               cjk = Decode(Sample("ed25519-cjk")), multi = Decode(Sample("multi-rdn"));
  ASSERT_EQ(rsa1024.rc | rsa2048.rc | challenge.rc | cjk.rc | multi.rc, 0);
  EXPECT_EQ(rsa1024.record.publicKeyLen, 140);
  EXPECT_EQ(rsa2048.record.publicKeyLen, 270);
  EXPECT_EQ(rsa1024.record.publicKey[0], 0x30) << "the RSAPublicKey SEQUENCE";
  EXPECT_STREQ(rsa1024.record.email, "req@kestrix.test");
  EXPECT_STREQ(rsa1024.record.stateOrProvince, "Berlin");
  EXPECT_STREQ(rsa2048.record.email, "");
  EXPECT_TRUE(SameRecord(challenge.record, rsa2048.record)) << "attributes changed the record";
  EXPECT_STREQ(cjk.record.commonName, "中国 测试 请求");
  EXPECT_EQ(cjk.record.publicKeyLen, 32);
  // Every member of the multi-valued RDNs, and the RDNs behind them.
  EXPECT_STREQ(multi.record.organizationalUnit, "Multi-valued");
  EXPECT_STREQ(multi.record.organization, "Kestrix Samples");
  EXPECT_STREQ(multi.record.commonName, "kestrix multi-valued request");
  EXPECT_STREQ(multi.record.stateOrProvince, "Berlin");
  EXPECT_STREQ(multi.record.email, "multi@kestrix.test");
}

// ---- Armour and lines ------------------------------------------------------------

TEST(RequestText, ArmourAndLineRules) {
  const std::string pem = Sample("rsa2048"), body = Body(pem), lines = Lines(body, 64);
  const std::string good = kBegin + "\n" + lines + kEnd;
  const std::string spaced = lines.substr(0, 10) + " " + lines.substr(10);
  const std::string cr = lines.substr(0, 10) + "\r" + lines.substr(10);
  const struct {
    const char* what;
    std::string text;
    std::int32_t rc;
  } cases[] = {
      {"the sample as it is", good, 0},
      {"no armour", lines, KX_NO_REQUEST_ARMOUR},
      {"empty text", "", KX_NO_REQUEST_ARMOUR},
      {"a certificate's armour",
       "-----BEGIN CERTIFICATE-----\n" + lines + "-----END CERTIFICATE-----\n",
       KX_NO_REQUEST_ARMOUR},
      {"armour inside a line", "junk " + good, 0},
      {"text behind the end line", good + "trailing\n" + kBegin + "\n", 0},
      {"end line right behind the armour", kBegin + "\n" + kEnd, KX_ERR_LENGTH},
      {"empty lines only", kBegin + "\n\n\r\n\n" + kEnd, KX_ERR_LENGTH},
      {"armour at the terminator", kBegin, KX_ERR_LENGTH},
      {"armour line of 88 bytes", kBegin + std::string(52, 'x') + "\n" + lines + kEnd, 0},
      {"armour line of 89 bytes", kBegin + std::string(53, 'x') + "\n" + lines + kEnd,
       KX_ERR_LENGTH},
      {"empty lines in the body", kBegin + "\n\n" + Replace(lines, "\n", "\n\n") + kEnd, 0},
      {"carriage return inside a line", kBegin + "\n" + cr + kEnd, 0},
      {"body lines of 87 characters", kBegin + "\n" + Lines(body, 87) + kEnd, 0},
      {"body lines of 88 characters", kBegin + "\n" + Lines(body, 88) + kEnd, KX_ERR_MALFORMED},
      {"body in one line", kBegin + "\n" + body + "\n" + kEnd, KX_ERR_MALFORMED},
      {"body line with a space", kBegin + "\n" + spaced + kEnd, KX_ERR_MALFORMED},
      {"header line in the body", kBegin + "\nProc-Type: 4,ENCRYPTED\n" + lines + kEnd,
       KX_ERR_MALFORMED},
      {"body not a multiple of 4", kBegin + "\n" + Lines(body.substr(1), 64) + kEnd,
       KX_ERR_MALFORMED},
      {"no end line", kBegin + "\n" + lines, KX_ERR_MALFORMED},
      {"last line without its line feed", kBegin + "\n" + lines.substr(0, lines.size() - 1),
       KX_ERR_MALFORMED},
      {"short line at the terminator", kBegin + "\nAAAA", KX_ERR_MALFORMED},
  };
  const Result want = Decode(pem);
  ASSERT_EQ(want.rc, 0);
  for (const auto& c : cases) {
    const Result r = Decode(c.text);
    EXPECT_EQ(r.rc, c.rc) << c.what;
    if (c.rc == 0) {
      EXPECT_TRUE(SameRecord(r.record, want.record)) << c.what;
    }
  }
}

// The NEW armour wins wherever it stands; the other form is searched only
// when it is absent.
TEST(RequestText, NewArmourWins) {
  const std::string a = Sample("rsa2048"), b = Sample("rsa1024-full-subject");
  const std::string bNew = Replace(b, "CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST");
  const Result want = Decode(b);
  for (const std::string& text : {a + bNew, bNew + a, "x" + bNew + a}) {
    const Result r = Decode(text);
    ASSERT_EQ(r.rc, 0);
    EXPECT_TRUE(SameRecord(r.record, want.record));
  }
  const std::size_t at = a.find('\n') + 5;
  EXPECT_EQ(Decode(a.substr(0, at) + " " + a.substr(at) + bNew).rc, 0)
      << "a broken body under the other form";
}

TEST(RequestText, SizeArgument) {
  const std::string pem = Sample("rsa2048");
  const auto chars = static_cast<std::int32_t>(Body(pem).size());
  for (std::int32_t size : {0, -1, INT32_MIN, chars - 1, 10000001, INT32_MAX}) {
    EXPECT_EQ(Decode(pem, size).rc, KX_ERR_LENGTH) << size;
  }
  EXPECT_EQ(Decode(pem, chars).rc, 0);
  EXPECT_EQ(Decode(pem, 10000000).rc, 0);
}

}  // namespace
