// GetX509CertInfo: the walk through the TBSCertificate, field by field, on
// certificates built from parts so each case changes one field.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "cert/records.h"
#include "cert/tbs.h"
#include "support/cert_builder.h"
#include "support/tlv_builder.h"

namespace {

using kx::Fault;
using kx::cert::CertBasicInfo;
using kx::cert::CertExtInfo;
using kx::cert::CertNameInfo;
using kxtest::Algorithm;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::CertParts;
using kxtest::Filler;
using kxtest::Name;
using kxtest::Oid;
using kxtest::RawTlv;
using kxtest::RsaKeyInfo;
using kxtest::Text;
using kxtest::Tlv;

struct Decoded {
  Fault rc;
  std::unique_ptr<kx::cert::CertRecords> records = std::make_unique<kx::cert::CertRecords>();
  CertNameInfo* issuer = &records->issuer;
  CertNameInfo* subject = &records->subject;
  CertBasicInfo* basic = &records->basic;
  CertExtInfo* ext = &records->extensions;
};

Decoded Decode(const Bytes& cert) {
  Decoded d;
  // Records start dirty: the parse must clear them itself.
  std::memset(d.issuer, 0x5A, sizeof(CertNameInfo));
  std::memset(d.basic, 0x5A, sizeof(CertBasicInfo));
  d.rc = kx::cert::GetX509CertInfo(kx::der::MakeReader(cert.data(), cert.size()), *d.records);
  return d;
}

Bytes Field(const std::uint8_t* p, std::int32_t n) {
  return Bytes(p, p + n);
}

// ---- Values ----------------------------------------------------------------------

TEST(TbsValues, Version3CertificateDecodesEveryField) {
  CertParts p;
  const Decoded d = Decode(p.Certificate());
  ASSERT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(d.basic->version, 2);
  EXPECT_EQ(Field(d.basic->serialNumber, d.basic->serialNumberLen), (Bytes{0x01, 0x02, 0x03}));
  EXPECT_EQ(d.basic->signatureAlgorithm, 4);
  EXPECT_STREQ(d.issuer->commonName, "issuer");
  EXPECT_STREQ(d.subject->commonName, "subject");
  EXPECT_STREQ(d.basic->notBefore, "250101000000");
  EXPECT_STREQ(d.basic->notAfter, "20500101000000");
  EXPECT_EQ(Field(d.basic->subjectPublicKey, d.basic->subjectPublicKeyLen), Tlv(0x30, Filler(20)));
  EXPECT_EQ(Field(d.basic->signatureValue, d.basic->signatureValueLen), Filler(256, 0x80));
  EXPECT_EQ(d.basic->issuerUniqueIDLen, 0);
  EXPECT_EQ(d.ext->keyUsage, -1);  // no extensions: the presets stay
  EXPECT_EQ(d.ext->subjectKeyIdLen, 20);
}

TEST(TbsValues, Version1HasNoVersionElement) {
  CertParts p;
  p.version = {};
  const Decoded d = Decode(p.Certificate());
  ASSERT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(d.basic->version, 0);
  EXPECT_EQ(d.ext->keyUsage, -1);
}

TEST(TbsValues, SerialNumberDropsOnlyASignByte) {
  const std::pair<Bytes, Bytes> cases[] = {
      {{0x00}, {0x00}},  // zero keeps its byte
      {Cat({{0x00}, Filler(8, 0x80)}), Filler(8, 0x80)},
      {{0x00, 0x00}, {0x00}},
      {{0x7F}, {0x7F}},
  };
  for (const auto& [content, expected] : cases) {
    CertParts p;
    p.serial = Tlv(0x02, content);
    const Decoded d = Decode(p.Certificate());
    ASSERT_EQ(d.rc, Fault::kNone);
    EXPECT_EQ(Field(d.basic->serialNumber, d.basic->serialNumberLen), expected);
  }
}

TEST(TbsValues, UnknownSignatureAlgorithmIsNoFault) {
  CertParts p;
  p.signature = Algorithm(0x0B);  // sha256WithRSAEncryption
  const Decoded d = Decode(p.Certificate());
  EXPECT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(d.basic->signatureAlgorithm, -1);
}

TEST(TbsValues, KeyKeepsLeadingZerosAfterTheUnusedBitsByte) {
  // A 2048-bit RSA key: 03 82 01 0F 00 30 82 01 0A ...
  const Bytes rsa = Tlv(0x30, Filler(266));
  CertParts p;
  p.keyInfo = RsaKeyInfo(rsa);
  Decoded d = Decode(p.Certificate());
  ASSERT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(d.basic->subjectPublicKeyLen, 270);
  EXPECT_EQ(Field(d.basic->subjectPublicKey, 4), (Bytes{0x30, 0x82, 0x01, 0x0A}));

  const Bytes zeros = Cat({{0x00, 0x00}, Filler(10)});
  p.keyInfo = RsaKeyInfo(zeros);
  d = Decode(p.Certificate());
  EXPECT_EQ(Field(d.basic->subjectPublicKey, d.basic->subjectPublicKeyLen), zeros);
}

TEST(TbsValues, UniqueIdentifiers) {
  CertParts p;
  p.tail = Cat({Tlv(0x82, {0x00, 0x01}), Tlv(0x81, {0x00, 0xAB, 0xCD})});
  Decoded d = Decode(p.Certificate());
  ASSERT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(Field(d.basic->issuerUniqueID, 3), (Bytes{0xAB, 0xCD, 0x00}));
  EXPECT_EQ(d.basic->issuerUniqueIDLen, 2);
  EXPECT_EQ(Field(d.basic->subjectUniqueID, 2), (Bytes{0x01, 0x00}));
  EXPECT_EQ(d.basic->subjectUniqueIDLen, 1);

  // The unused-bits byte is skipped whatever its value; an empty element
  // gives an empty field; a third element is not looked for.
  p.tail = Cat({Tlv(0x81, {0x07, 0x80}), Tlv(0x81, {}), Tlv(0x82, {0x00, 0x01})});
  d = Decode(p.Certificate());
  EXPECT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(d.basic->issuerUniqueIDLen, 0);
  EXPECT_EQ(d.basic->subjectUniqueIDLen, 0);
}

TEST(TbsValues, ExtensionsAreDecodedIntoTheirRecord) {
  // keyUsage keyCertSign | cRLSign.
  const Bytes keyUsage =
      Tlv(0x30, Cat({Oid({0x55, 0x1D, 0x0F}), Tlv(0x04, Tlv(0x03, {0x01, 0x06}))}));
  CertParts p;
  p.tail = Tlv(0xA3, Tlv(0x30, keyUsage));
  Decoded d = Decode(p.Certificate());
  ASSERT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(d.ext->keyUsage, 0x0600);

  p.tail = Tlv(0xA3, Tlv(0x31, keyUsage));  // [3] must hold a SEQUENCE
  EXPECT_EQ(Decode(p.Certificate()).rc, Fault::kExtensions);
  p.tail = Tlv(0xA3, Tlv(0x30, Tlv(0x02, {})));  // a broken extension fails the parse
  EXPECT_EQ(Decode(p.Certificate()).rc, Fault::kExtensions);
  p.tail = Tlv(0x05, {});  // anything but [3] ends the certificate
  EXPECT_EQ(Decode(p.Certificate()).rc, Fault::kNone);
}

// The walk goes on right after the key BIT STRING, whatever length the
// SubjectPublicKeyInfo SEQUENCE declares.
TEST(TbsValues, WalkContinuesAfterTheKeyBitString) {
  const Bytes content = Cat({Algorithm(0x01), Tlv(0x03, Cat({{0x00}, Filler(12)}))});
  CertParts p;
  p.tail = Cat({Tlv(0x81, {0x00, 0xAB}), Tlv(0xA3, Tlv(0x30, {}))});
  for (const std::uint8_t declared : {std::uint8_t{0}, std::uint8_t{5}, std::uint8_t{0x7F}}) {
    p.keyInfo = RawTlv(0x30, {declared}, content);
    const Decoded d = Decode(p.Certificate());
    ASSERT_EQ(d.rc, Fault::kNone) << "declared " << int{declared};
    EXPECT_EQ(d.basic->subjectPublicKeyLen, 12);
    EXPECT_EQ(d.basic->issuerUniqueIDLen, 1) << "declared " << int{declared};
  }
}

// ---- Limits ----------------------------------------------------------------------

TEST(TbsLimits, LargeKeyAndSignatureAreRecordedByLengthOnly) {
  // A 4096-bit key and its 512-byte signature do not fit their 300-byte
  // fields: the lengths are kept, the bytes left out, and the parse succeeds.
  CertParts p;
  p.keyInfo = RsaKeyInfo(Tlv(0x30, Filler(522)));
  p.signatureValue = Cat({{0x00}, Filler(512, 0x80)});
  p.tail = Tlv(0x81, Cat({{0x00}, Filler(126)}));  // the largest one-byte length
  const Decoded d = Decode(p.Certificate());
  ASSERT_EQ(d.rc, Fault::kNone);
  EXPECT_EQ(d.basic->subjectPublicKeyLen, 526);
  EXPECT_EQ(d.basic->signatureValueLen, 512);
  EXPECT_EQ(Field(d.basic->subjectPublicKey, 300), Bytes(300, 0x00));
  EXPECT_EQ(Field(d.basic->signatureValue, 300), Bytes(300, 0x00));
  EXPECT_EQ(d.basic->issuerUniqueIDLen, 126);
}

TEST(TbsLimits, TbsLargerThan2048BytesDecodes) {
  CertParts p;
  // Sixty OUs of 40 characters (each RDN fits the walker's buffers).
  Bytes rdns;
  for (int i = 0; i < 60; ++i) {
    rdns = Cat(
        {rdns, Tlv(0x31, Tlv(0x30, Cat({Oid({0x55, 0x04, 0x0B}), Tlv(0x13, Bytes(40, 'a'))})))});
  }
  p.subject = Tlv(
      0x30,
      Cat({rdns, Tlv(0x31, Tlv(0x30, Cat({Oid({0x55, 0x04, 0x03}), Tlv(0x13, Text("last"))})))}));
  ASSERT_GT(p.Tbs().size(), 2048u);
  const Decoded d = Decode(p.Certificate());
  ASSERT_EQ(d.rc, Fault::kNone);
  EXPECT_STREQ(d.subject->commonName, "last");
}

// ---- Framing ---------------------------------------------------------------------

TEST(TbsFraming, EachFieldsTagAndLength) {
  struct Case {
    const char* what;
    void (*edit)(CertParts&);
    Fault where;
  };
  const Case cases[] = {
      {"first element a SEQUENCE",
       [](CertParts& p) {
         p.version = Tlv(0x30, {});
         p.serial = {};
       },
       Fault::kVersion},
      {"serial long-form length",
       [](CertParts& p) {
         p.serial = RawTlv(0x02, {0x81, 0x01}, {0x01});
       },
       Fault::kSerialNumber},
      // Quirk: a serial length that runs on takes the next fields as its bytes.
      {"serial length over the next fields",
       [](CertParts& p) { p.serial = RawTlv(0x02, {0x7F}, {0x01}); }, Fault::kSignatureAlgorithm},
      {"signature not a SEQUENCE", [](CertParts& p) { p.signature = Tlv(0x31, {}); },
       Fault::kSignatureAlgorithm},
      {"signature OID past its SEQUENCE",
       [](CertParts& p) { p.signature = Tlv(0x30, RawTlv(0x06, {0x09}, {0x2A})); },
       Fault::kSignatureAlgorithm},
      {"issuer not a SEQUENCE", [](CertParts& p) { p.issuer = Tlv(0x31, {}); }, Fault::kIssuer},
      {"issuer name malformed", [](CertParts& p) { p.issuer = Tlv(0x30, Tlv(0x02, {})); },
       Fault::kIssuer},
      {"validity not a SEQUENCE", [](CertParts& p) { p.validity = Tlv(0x31, {}); },
       Fault::kValidity},
      // Quirk: the times' tags are not examined, so the subject is read as the
      // second time and the key info as the subject.
      {"validity missing its second time",
       [](CertParts& p) { p.validity = Tlv(0x30, Tlv(0x17, Text("250101000000Z"))); },
       Fault::kSubjectPublicKeyInfo},
      {"validity of one time and nothing behind it",
       [](CertParts& p) {
         p.validity = Tlv(0x30, Tlv(0x17, Text("250101000000Z")));
         p.subject = p.keyInfo = {};
       },
       Fault::kValidity},
      {"subject not a SEQUENCE", [](CertParts& p) { p.subject = Tlv(0x04, {}); }, Fault::kSubject},
      {"key info not a SEQUENCE", [](CertParts& p) { p.keyInfo = Tlv(0x31, {}); },
       Fault::kSubjectPublicKeyInfo},
      {"key algorithm not a SEQUENCE",
       [](CertParts& p) {
         p.keyInfo = Tlv(0x30, Cat({Tlv(0x31, {}), Tlv(0x03, {0x00})}));
       },
       Fault::kSubjectPublicKeyInfo},
      {"key not a BIT STRING",
       [](CertParts& p) {
         p.keyInfo = Tlv(0x30, Cat({Algorithm(0x01), Tlv(0x04, {0x00})}));
       },
       Fault::kSubjectPublicKeyInfo},
      {"unique identifier past the TBS",
       [](CertParts& p) { p.tail = RawTlv(0x81, {0x05}, {0x00}); }, Fault::kUniqueIdentifier},
      {"extensions past the TBS",
       [](CertParts& p) {
         p.tail = RawTlv(0xA3, {0x05}, {0x30, 0x00});
       },
       Fault::kExtensions},
  };
  for (const Case& c : cases) {
    CertParts p;
    c.edit(p);
    EXPECT_EQ(Decode(p.Certificate()).rc, c.where) << c.what;
  }
}

TEST(TbsFraming, RecordsAreClearedEvenWhenTheParseFails) {
  const Decoded d = Decode(Tlv(0x31, {}));
  EXPECT_EQ(d.rc, Fault::kCertificateFrame);
  EXPECT_EQ(d.issuer->commonName[0], '\0');
  EXPECT_EQ(d.basic->version, 2);  // the presets
  EXPECT_EQ(d.basic->signatureAlgorithm, 4);
  EXPECT_EQ(d.basic->serialNumberLen, 0);
  EXPECT_EQ(d.ext->keyUsage, -1);
  EXPECT_EQ(d.ext->x5315_100_2_2, -1);
}

TEST(TbsFraming, TbsEndingAfterTheKeyIsComplete) {
  CertParts p;
  p.tail = {};
  EXPECT_EQ(Decode(p.Certificate()).rc, Fault::kNone);
}

}  // namespace
