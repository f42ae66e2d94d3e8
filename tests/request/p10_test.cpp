// DecodePKCS10Request and GetPKCS10RequestInfo on requests built from parts,
// so each case changes one element of a good request. Every refused request
// is also sent through RC_decodep10pemtxt, which must leave the caller's
// record as it was.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <openssl/evp.h>
#endif

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "cert/records.h"
#include "kestrix.h"
#include "request/p10.h"
#include "support/cert_builder.h"
#include "support/tlv_builder.h"

namespace {

using kxtest::Algorithm;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::Filler;
using kxtest::Oid;
using kxtest::Tlv;

const Bytes kRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const Bytes kRsaKey = Tlv(0x30, Cat({Tlv(0x02, Filler(65)), Tlv(0x02, {0x01, 0x00, 0x01})}));
const Bytes kSignature = Filler(128, 0x80);

Bytes KeyInfo(const Bytes& algorithm, const Bytes& bitStringContent) {
  return Tlv(0x30, Cat({algorithm, Tlv(0x03, bitStringContent)}));
}

// A request from its parts; each member is the whole encoded element.
struct RequestParts {
  Bytes version = Tlv(0x02, {0x00});
  Bytes subject = kxtest::Name("subject");
  Bytes keyInfo = KeyInfo(Algorithm(0x01), Cat({{0x00}, kRsaKey}));
  Bytes attributes = Tlv(0xA0, {});
  Bytes tail = Cat({Algorithm(0x05), Tlv(0x03, Cat({{0x00}, kSignature}))});

  Bytes Info() const { return Tlv(0x30, Cat({version, subject, keyInfo, attributes})); }
  Bytes Der() const { return Tlv(0x30, Cat({Info(), tail})); }
};

// A good request with one part replaced.
Bytes With(Bytes RequestParts::*part, const Bytes& value) {
  RequestParts p;
  p.*part = value;
  return p.Der();
}
const auto V = [](const Bytes& b) { return With(&RequestParts::version, b); };
const auto K = [](const Bytes& b) { return With(&RequestParts::keyInfo, b); };
const auto T = [](const Bytes& b) { return With(&RequestParts::tail, b); };

// `content` under a length field that declares `extra` bytes more.
Bytes Past(std::uint8_t tag, const Bytes& content, std::size_t extra) {
  return kxtest::RawTlv(tag, kxtest::LengthField(content.size() + extra), content);
}

Bytes Drop(Bytes b, std::size_t n) {
  b.resize(b.size() - n);
  return b;
}

constexpr std::int32_t kUnset = 0x5A5A5A5A;

struct Decoded {
  kx::Fault fault = kx::Fault::kNone;
  std::int32_t rc = 0;  // 0, or -2 for any fault
  std::int32_t version = kUnset, signatureAlg = kUnset, keyAlg = kUnset;
  std::int32_t keyLen = kUnset, signatureLen = kUnset;
  Bytes key, signature;  // the bytes the lengths cover
  std::unique_ptr<kx::cert::CertNameInfo> subject = std::make_unique<kx::cert::CertNameInfo>();
};

// Decodes an exactly sized copy of `der`.
Decoded Decode(const Bytes& der) {
  Decoded d;
  const Bytes exact(der);
  auto r = std::make_unique<kx::request::P10Request>();
  r->version = r->signatureAlg = r->publicKeyAlg = r->publicKeyLen = r->signatureLen = kUnset;
  d.fault = kx::request::DecodePKCS10Request(kx::der::MakeReader(exact.data(), exact.size()), *r);
  d.rc = d.fault == kx::Fault::kNone ? 0 : KX_ERR_MALFORMED;
  d.version = r->version;
  d.signatureAlg = r->signatureAlg;
  d.keyAlg = r->publicKeyAlg;
  d.keyLen = r->publicKeyLen;
  d.signatureLen = r->signatureLen;
  *d.subject = r->subject;
  auto cover = [](const std::uint8_t* b, std::int32_t n) {
    return n >= 0 && n <= 300 ? Bytes(b, b + n) : Bytes();
  };
  d.key = cover(r->publicKey, d.keyLen);
  d.signature = cover(r->signature, d.signatureLen);
  return d;
}

// RC_decodep10pemtxt on `der` in armour (Base64 lines of 64 characters),
// size the text's length unless given; a failure must leave the record as
// it was. What it prints goes to `printed` when given.
std::int32_t DecodeText(const Bytes& der, std::int32_t size = 0, std::string* printed = nullptr) {
  std::string b64(4 * ((der.size() + 2) / 3) + 1, '\0');
#if defined(_WIN32)  // the Windows build has no OpenSSL: the library's own encoder
  std::int32_t b64Len = static_cast<std::int32_t>(b64.size());
  EXPECT_EQ(DerToPem(der.data(), static_cast<std::int32_t>(der.size()), b64.data(), &b64Len), 0);
  b64.resize(static_cast<std::size_t>(b64Len));
#else
  b64.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()),
                                                      der.data(), static_cast<int>(der.size()))));
#endif
  std::string text = "-----BEGIN CERTIFICATE REQUEST-----\n";
  for (std::size_t i = 0; i < b64.size(); i += 64) text += b64.substr(i, 64) + "\n";
  text += "-----END CERTIFICATE REQUEST-----\n";
  P10RequestInfo record, before;
  std::memset(&record, 0xA5, sizeof record);
  before = record;
  testing::internal::CaptureStdout();
  const std::int32_t rc = RC_decodep10pemtxt(
      text.c_str(), size != 0 ? size : static_cast<std::int32_t>(text.size()), &record);
  const std::string out = testing::internal::GetCapturedStdout();
  if (printed != nullptr) *printed = out;
  if (rc != 0) {
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << "a failure wrote to the record";
  }
  return rc;
}

void ExpectRefused(const Bytes& der, const std::string& what) {
  EXPECT_EQ(Decode(der).rc, KX_ERR_MALFORMED) << what;
  EXPECT_EQ(DecodeText(der), KX_ERR_MALFORMED) << what << " (text)";
}

// ---- Framing ---------------------------------------------------------------------

TEST(RequestFraming, MalformedElementsAreRefused) {
  const RequestParts g;
  const Bytes body = Cat({g.Info(), g.tail});
  const Bytes infoContent = Cat({g.version, g.subject, g.keyInfo, g.attributes});
  const Bytes name(g.subject.begin() + 2, g.subject.end());
  const Bytes alg = Algorithm(0x01), algContent(alg.begin() + 2, alg.end());
  const Bytes bits = Cat({{0x00}, kRsaKey}), key = Cat({alg, Tlv(0x03, bits)});
  const Bytes sigAlg = Algorithm(0x05), sigAlgContent(sigAlg.begin() + 2, sigAlg.end());
  const Bytes sig = Cat({{0x00}, kSignature});
  const struct {
    const char* what;
    Bytes der;
    kx::Fault where;
  } cases[] = {
      {"outer tag", Tlv(0x31, body), kx::Fault::kRequestFrame},
      {"outer length past the bytes", Past(0x30, body, 1), kx::Fault::kRequestFrame},
      {"request cut short", Drop(g.Der(), 1), kx::Fault::kRequestFrame},
      {"info tag", Tlv(0x30, Cat({Tlv(0x31, infoContent), g.tail})), kx::Fault::kRequestInfo},
      {"info past the request", Tlv(0x30, Past(0x30, infoContent, 200)), kx::Fault::kRequestFrame},
      {"info holds the version alone", Tlv(0x30, Cat({Tlv(0x30, g.version), g.tail})),
       kx::Fault::kRequestSubject},
      {"version tag", V(Tlv(0x0A, {0x00})), kx::Fault::kRequestVersion},
      {"version value", V(Tlv(0x02, {0x01})), kx::Fault::kRequestVersionValue},
      {"version of two bytes", V(Tlv(0x02, {0x00, 0x00})), kx::Fault::kRequestVersion},
      {"version empty", V(Tlv(0x02, {})), kx::Fault::kRequestVersion},
      {"subject tag", With(&RequestParts::subject, Tlv(0x31, name)), kx::Fault::kRequestSubject},
      {"subject past the info", With(&RequestParts::subject, Past(0x30, name, 190)),
       kx::Fault::kRequestSubject},
      {"key info tag", K(Tlv(0x31, key)), kx::Fault::kRequestPublicKey},
      {"key info past the info", K(Past(0x30, key, 3)), kx::Fault::kRequestPublicKey},
      {"key algorithm tag", K(KeyInfo(Tlv(0x31, algContent), bits)), kx::Fault::kRequestPublicKey},
      {"key algorithm past the info", K(KeyInfo(Past(0x30, algContent, 160), bits)),
       kx::Fault::kRequestPublicKey},
      {"key OID tag", K(KeyInfo(Tlv(0x30, Cat({Tlv(0x04, kRsaOid), Tlv(0x05, {})})), bits)),
       kx::Fault::kRequestPublicKey},
      {"key OID past the info", K(Tlv(0x30, Tlv(0x30, Past(0x06, kRsaOid, 200)))),
       kx::Fault::kRequestPublicKey},
      {"key BIT STRING tag", K(Tlv(0x30, Cat({alg, Tlv(0x04, bits)}))),
       kx::Fault::kRequestPublicKey},
      {"key BIT STRING missing", K(Tlv(0x30, alg)), kx::Fault::kRequestPublicKey},
      {"key BIT STRING past the info", K(Tlv(0x30, Cat({alg, Past(0x03, bits, 3)}))),
       kx::Fault::kRequestPublicKey},
      {"key BIT STRING empty", K(KeyInfo(alg, {})), kx::Fault::kRequestPublicKey},
      {"signature algorithm tag", T(Cat({Tlv(0x31, sigAlgContent), Tlv(0x03, sig)})),
       kx::Fault::kRequestFrame},
      {"signature algorithm past the request",
       T(Cat({Past(0x30, sigAlgContent, 200), Tlv(0x03, sig)})), kx::Fault::kRequestFrame},
      {"signature tag", T(Cat({sigAlg, Tlv(0x04, sig)})), kx::Fault::kRequestFrame},
      {"signature past the request", T(Cat({sigAlg, Past(0x03, sig, 1)})),
       kx::Fault::kRequestFrame},
  };
  for (const auto& c : cases) {
    ExpectRefused(c.der, c.what);
    EXPECT_EQ(Decode(c.der).fault, c.where) << c.what;
  }
}

// The request's extent is its outer element: bytes behind it are not read,
// and the decoded bytes bound it, not the size of the buffer they are in.
TEST(RequestFraming, ExtentIsTheOuterElement) {
  const RequestParts g;
  const Decoded behind = Decode(Cat({g.Der(), Filler(40, 0xF0)}));
  ASSERT_EQ(behind.rc, 0);
  EXPECT_EQ(behind.signature, kSignature);
  const Decoded bare = Decode(Cat({Tlv(0x30, g.Info()), Algorithm(0x05), Filler(40)}));
  EXPECT_EQ(bare.rc, 0);
  EXPECT_EQ(bare.signatureAlg, kUnset) << "a signature algorithm behind the request was read";
  EXPECT_EQ(DecodeText(Drop(g.Der(), 3), 1 << 16), KX_ERR_MALFORMED);
}

TEST(RequestFraming, DiagnosticsOnStandardOutput) {
  const struct {
    Bytes der;
    kx::Fault fault;
    const char* printed;
  } cases[] = {
      {Tlv(0x31, RequestParts().Info()), kx::Fault::kRequestFrame,
       "GetPKCS10RequestInfo error ret=-2\n"},
      {V(Tlv(0x02, {0x01})), kx::Fault::kRequestVersionValue, "Version error\n"},
      {V(Tlv(0x02, {0x00, 0x00})), kx::Fault::kRequestVersion, ""},
      {Tlv(0x30, Cat({Tlv(0x31, RequestParts().Info()), RequestParts().tail})),
       kx::Fault::kRequestInfo, ""},
      {RequestParts().Der(), kx::Fault::kNone, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decode(c.der).fault, c.fault);
    std::string printed;
    (void)DecodeText(c.der, 0, &printed);
    EXPECT_EQ(printed, c.printed);
  }
}

// ---- Values ----------------------------------------------------------------------

TEST(RequestValues, RsaRequestDecodesEveryOutput) {
  const RequestParts g;
  const Decoded d = Decode(g.Der());
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.version, 0);
  EXPECT_STREQ(d.subject->commonName, "subject");
  EXPECT_EQ(d.keyAlg, 5);
  EXPECT_EQ(d.signatureAlg, 4);
  EXPECT_EQ(d.key, kRsaKey);
  EXPECT_EQ(d.signature, kSignature);
  EXPECT_EQ(DecodeText(g.Der()), 0);

  const Bytes der = g.Der();
  kx::der::Element info{};
  auto request = std::make_unique<kx::request::P10Request>();
  ASSERT_EQ(kx::request::GetPKCS10RequestInfo(kx::der::MakeReader(der.data(), der.size()), info,
                                              *request),
            kx::Fault::kNone);
  EXPECT_EQ(Bytes(info.whole.pos, info.whole.end), g.Info());
  EXPECT_EQ(request->signatureAlg, 4);
  EXPECT_EQ(Bytes(request->signature, request->signature + request->signatureLen), kSignature);
}

// Both AlgorithmIdentifiers are stepped over by their own length, whatever
// their parameters (none, a NULL, a curve OID, a SEQUENCE).
TEST(RequestValues, AnyAlgorithmParameters) {
  const Bytes ed25519 = Tlv(0x30, Oid({0x2B, 0x65, 0x70}));
  const Bytes p256 = Oid({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07});
  const Bytes dsaParams = Tlv(0x30, Cat({Tlv(0x02, Filler(129)), Tlv(0x02, Filler(21))}));
  const struct {
    const char* what;
    Bytes key, signature;
    std::int32_t keyCode, signatureCode;
  } cases[] = {
      {"RSA, md5WithRSA", Algorithm(0x01), Algorithm(0x04), 5, 3},
      {"EC P-256, ECDSA", Tlv(0x30, Cat({Oid({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01}), p256})),
       Tlv(0x30, Oid({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02})), -1, -1},
      {"Ed25519", ed25519, ed25519, -1, -1},
      {"DSA, dsaWithSHA1",
       Tlv(0x30, Cat({Oid({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01}), dsaParams})),
       Tlv(0x30, Oid({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x03})), 7, 8},
      {"unknown OID with NULL", Tlv(0x30, Cat({Oid({0x2A, 0x03}), Tlv(0x05, {})})), ed25519, -1,
       -1},
  };
  for (const auto& c : cases) {
    RequestParts p;
    p.keyInfo = KeyInfo(c.key, Cat({{0x00}, Filler(65, 0x04)}));
    p.tail = Cat({c.signature, Tlv(0x03, Cat({{0x00}, Filler(64, 0x30)}))});
    const Decoded d = Decode(p.Der());
    ASSERT_EQ(d.rc, 0) << c.what;
    EXPECT_EQ(d.keyAlg, c.keyCode) << c.what;
    EXPECT_EQ(d.key, Filler(65, 0x04)) << c.what;
    EXPECT_EQ(d.signatureAlg, c.signatureCode) << c.what;
    EXPECT_EQ(d.signature, Filler(64, 0x30)) << c.what;
  }
}

// ---- Limits ----------------------------------------------------------------------

TEST(RequestLimits, OidKeyAndSignatureSizes) {
  auto keyOid = [](std::size_t n) {
    return K(KeyInfo(Tlv(0x30, Cat({Oid(Filler(n)), Tlv(0x05, {})})), Cat({{0x00}, kRsaKey})));
  };
  auto key = [](std::size_t n) { return K(KeyInfo(Algorithm(0x01), Cat({{0x00}, Filler(n)}))); };
  auto sig = [](const Bytes& content) { return T(Cat({Algorithm(0x05), Tlv(0x03, content)})); };
  EXPECT_EQ(Decode(keyOid(20)).keyAlg, -1);
  EXPECT_EQ(Decode(key(300)).key, Filler(300));
  EXPECT_EQ(Decode(sig(Cat({{0x00}, Filler(300)}))).signature, Filler(300));
  EXPECT_EQ(Decode(sig(Filler(300, 0x07))).signature, Filler(300, 0x07));
  ExpectRefused(keyOid(21), "key OID of 21 bytes");
  ExpectRefused(key(301), "key of 301 bytes");
  ExpectRefused(sig(Cat({{0x00}, Filler(301)})), "signature of 301 bytes");
  ExpectRefused(sig(Filler(301, 0x07)), "signature of 301 bytes, no zero octet");
}

// ---- Quirks ----------------------------------------------------------------------

// Quirk: the key's first content octet is dropped whatever its value, the
// signature's only when it is zero; attributes are not read.
TEST(RequestQuirks, KeyOctetSignatureOctetAndAttributes) {
  RequestParts p;
  p.keyInfo = KeyInfo(Algorithm(0x01), Cat({{0x07}, kRsaKey}));
  p.tail = Cat({Algorithm(0x05), Tlv(0x03, Filler(64, 0x07))});
  p.attributes = Tlv(0xA0, Filler(5, 0xFF));
  const Decoded d = Decode(p.Der());
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.key, kRsaKey);
  EXPECT_EQ(d.signature, Filler(64, 0x07));
}

// Quirk: at most 10 bytes behind the info, or behind the signature
// algorithm, end the request successfully; one more is read as an element.
TEST(RequestQuirks, TenBytesBehindAPartAreIgnored) {
  const Bytes info = RequestParts().Info();
  for (std::size_t n : {0, 10}) {
    const Decoded d = Decode(Tlv(0x30, Cat({info, Filler(n, 0xF0)})));
    EXPECT_EQ(d.rc, 0) << n;
    EXPECT_EQ(d.signatureAlg, kUnset);
    EXPECT_EQ(d.signatureLen, kUnset);
    const Decoded a = Decode(Tlv(0x30, Cat({info, Algorithm(0x05), Filler(n, 0xF0)})));
    EXPECT_EQ(a.rc, 0) << n;
    EXPECT_EQ(a.signatureAlg, 4);
    EXPECT_EQ(a.signatureLen, kUnset);
  }
  ExpectRefused(Tlv(0x30, Cat({info, Filler(11, 0xF0)})), "11 bytes behind the info");
  ExpectRefused(Tlv(0x30, Cat({info, Algorithm(0x05), Filler(11, 0xF0)})),
                "11 bytes behind the signature algorithm");
}

}  // namespace
