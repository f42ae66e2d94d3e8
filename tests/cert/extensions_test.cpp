// The v3 extensions walker: the outer frame and its four failures, each
// handler's values and quirks, the limits (inner lengths past the value,
// values over 700 bytes, truncation at every byte), and one certificate made
// with OpenSSL read back against OpenSSL's own view of it.
#include "cert/extensions.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "der/reader.h"
#include "support/cert_builder.h"
#include "support/openssl_x509.h"
#include "support/tlv_builder.h"

namespace {

using kx::cert::CertExtInfo;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::Extension;
using kxtest::Filler;
using kxtest::kOidAdCaIssuers;
using kxtest::kOidAdOcsp;
using kxtest::kOidAia;
using kxtest::kOidAuthorityKeyId;
using kxtest::kOidBasicConstraints;
using kxtest::kOidCrlDp;
using kxtest::kOidIan;
using kxtest::kOidKeyUsage;
using kxtest::kOidNetscapeCertType;
using kxtest::kOidPolicies;
using kxtest::kOidSan;
using kxtest::kOidSubjectKeyId;
using kxtest::OidX113731;
using kxtest::OidX5315;
using kxtest::OidX86;
using kxtest::RawTlv;
using kxtest::Text;
using kxtest::Tlv;

// ---- Builders -----------------------------------------------------------------

Bytes CriticalExt(const Bytes& oid, const Bytes& value) {
  return Tlv(0x30, Cat({Tlv(0x06, oid), {0x01, 0x01, 0xFF}, Tlv(0x04, value)}));
}

Bytes Uri(const std::string& s) {
  return Tlv(0x86, Text(s));
}
Bytes Email(const std::string& s) {
  return Tlv(0x81, Text(s));
}
Bytes Dns(const std::string& s) {
  return Tlv(0x82, Text(s));
}
Bytes Names(std::initializer_list<Bytes> names) {
  return Tlv(0x30, Cat(names));
}
// otherName with a type identifier of `typeIdLength` bytes around `value`.
Bytes OtherName(std::size_t typeIdLength, const Bytes& value) {
  return Tlv(0xA0, Cat({Tlv(0x06, Filler(typeIdLength, 0x2B)), Tlv(0xA0, value)}));
}
// A DistributionPoint whose fullName holds `names`.
Bytes Point(std::initializer_list<Bytes> names) {
  return Tlv(0x30, Tlv(0xA0, Tlv(0xA0, Cat(names))));
}
Bytes Access(const Bytes& method, const std::string& uri) {
  return Tlv(0x30, Cat({Tlv(0x06, method), Uri(uri)}));
}

struct Result {
  bool ok;
  CertExtInfo info;
};

// Parses `contents` from a heap block of exactly its size, so the sanitizer
// build reports the first byte read past it.
Result Parse(const Bytes& contents, std::size_t count) {
  Result r{};
  kx::cert::InitCertExtInfo(r.info);
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[contents.size()]);
  std::copy(contents.begin(), contents.end(), block.get());
  r.ok = kx::cert::GetExtInfoFromDER(kx::der::MakeReader(block.get(), count), r.info);
  return r;
}
Result Parse(const Bytes& contents) {
  return Parse(contents, contents.size());
}

CertExtInfo Presets() {
  CertExtInfo info;
  kx::cert::InitCertExtInfo(info);
  return info;
}

bool SameRecord(const CertExtInfo& a, const CertExtInfo& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

Bytes KeyIdBytes(const std::uint8_t* field, std::size_t n) {
  return Bytes(field, field + n);
}

const Bytes kGoodKeyUsage = Extension(kOidKeyUsage, {0x03, 0x02, 0x05, 0xA0});

// ---- Framing ------------------------------------------------------------------

TEST(ExtensionsFraming, PresetsAndEmptyInput) {
  const CertExtInfo presets = Presets();
  EXPECT_EQ(presets.keyUsage, -1);
  EXPECT_EQ(presets.subjectKeyIdLen, 20);
  EXPECT_EQ(presets.authorityKeyIdLen, 20);
  EXPECT_EQ(presets.x5315_100_2_2, -1);
  EXPECT_EQ(presets.basicConstraintsCA, 0);
  const Result r = Parse(kGoodKeyUsage, 0);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(SameRecord(r.info, presets));
}

TEST(ExtensionsFraming, CriticalFlagIsSteppedOver) {
  const Result r = Parse({0x30, 0x0E, 0x06, 0x03, 0x55, 0x1D, 0x0F, 0x01, 0x01, 0xFF, 0x04, 0x04,
                          0x03, 0x02, 0x01, 0x06});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.info.keyUsage, 0x0600);
  // The flag's value is not looked at.
  EXPECT_EQ(Parse(Cat({RawTlv(0x30, {0x0E},
                              Cat({Tlv(0x06, kOidKeyUsage),
                                   {0x01, 0x01, 0x00},
                                   Tlv(0x04, {0x03, 0x02, 0x01, 0x06})}))}))
                .info.keyUsage,
            0x0600);
}

// Quirk: the Extension's own length is not used; the next one starts behind the value.
TEST(ExtensionsFraming, ExtensionLengthIsNotUsed) {
  const Bytes lying =
      RawTlv(0x30, {0x00},
             Cat({Tlv(0x06, kOidBasicConstraints), Tlv(0x04, {0x30, 0x03, 0x01, 0x01, 0xFF})}));
  const Result r = Parse(Cat({lying, kGoodKeyUsage}));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.info.basicConstraintsCA, 1);
  EXPECT_EQ(r.info.keyUsage, 0xA000);
}

TEST(ExtensionsFraming, BrokenOuterShapeIsMalformed) {
  const Bytes okValue = {0x03, 0x02, 0x05, 0xA0};
  struct Case {
    const char* name;
    Bytes ext;
  } cases[] = {
      {"NULL instead of OCTET STRING", Tlv(0x30, Cat({Tlv(0x06, kOidKeyUsage), {0x05, 0x00}}))},
      {"critical flag 01 02 00 FF",
       Tlv(0x30, Cat({Tlv(0x06, kOidKeyUsage), {0x01, 0x02, 0x00, 0xFF}, Tlv(0x04, okValue)}))},
      {"stray zero byte after the last extension", {0x00}},
      {"not a SEQUENCE", Tlv(0x31, Cat({Tlv(0x06, kOidKeyUsage), Tlv(0x04, okValue)}))},
      {"identifier not an OID", Tlv(0x30, Cat({Tlv(0x04, kOidKeyUsage), Tlv(0x04, okValue)}))},
      {"OID length byte past the input", {0x30, 0x03, 0x06, 0x05, 0x55, 0x1D, 0x0F}},
      {"OID length 0x81 read as 129, past the input",
       Cat({{0x30, 0x0A, 0x06, 0x81}, kOidKeyUsage, Tlv(0x04, okValue)})},
      {"value past the input", {0x30, 0x08, 0x06, 0x03, 0x55, 0x1D, 0x0F, 0x04, 0x04, 0x03, 0x02}},
      {"nothing behind the OID", {0x30, 0x05, 0x06, 0x03, 0x55, 0x1D, 0x0F}},
      {"only 01 01 behind the OID", {0x30, 0x07, 0x06, 0x03, 0x55, 0x1D, 0x0F, 0x01, 0x01}},
      {"SEQUENCE length field cut", {0x30, 0x82, 0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The extension decoded before the failure stays in the record.
    const Result r = Parse(Cat({kGoodKeyUsage, c.ext}));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.info.keyUsage, 0xA000);
  }
}

TEST(ExtensionsFraming, UnknownIdentifiersArePassedOver) {
  const Bytes text = Tlv(0x0C, Text("v"));
  const Bytes ignored[] = {
      Extension(kOidPolicies, Tlv(0x30, Tlv(0x30, Tlv(0x06, {0x55, 0x1D, 0x20, 0x00})))),
      Extension(OidX86(6), text),
      Extension(OidX86(0), text),
      Extension(OidX113731(12), text),
      Extension(OidX113731(30), text),
      Extension(OidX5315(0x05, 7), text),
      Extension(OidX5315(0x05, 10), text),
      Extension(OidX5315(0x05, 13), text),
      Extension(OidX5315(0x02, 5), text),
      Extension(OidX5315(0x03, 1), text),                                 // only sub-arcs 2 and 5
      Extension({0x2A, 0x56, 0x0B, 0x07, 0x81, 0x01}, text),              // two-byte final arc
      Extension({0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x42, 0x01}, text),  // Netscape arc, one short
      Extension(Cat({kOidSubjectKeyId, Filler(18)}), text),               // 21 bytes: no row
      Extension({}, text),
  };
  for (const Bytes& ext : ignored) {
    const Result r = Parse(Cat({ext, kGoodKeyUsage}));
    EXPECT_TRUE(r.ok);
    CertExtInfo expected = Presets();
    expected.keyUsage = 0xA000;
    EXPECT_TRUE(SameRecord(r.info, expected)) << testing::PrintToString(ext);
  }
}

// ---- Key usage, certificate type, basic constraints --------------------------

TEST(ExtensionsBits, KeyUsageCountsOnlyTheValueSize) {
  struct Case {
    Bytes value;
    std::int32_t keyUsage;
  } cases[] = {
      {{0x03, 0x02, 0x05, 0xA0}, 0xA000}, {{0x03, 0x03, 0x07, 0x80, 0x80}, 0x8080},
      {{0x03, 0x01, 0x00}, -1},           {{0x03, 0x04, 0x00, 0x80, 0x80, 0x80}, -1},
      {{0x04, 0x09, 0x09, 0x81}, 0x8100},  // tag, length and unused bits not examined
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(Extension(kOidKeyUsage, c.value)).info.keyUsage, c.keyUsage)
        << testing::PrintToString(c.value);
  }
}

TEST(ExtensionsBits, NetscapeCertType) {
  EXPECT_EQ(Parse(Extension(kOidNetscapeCertType, {0x03, 0x02, 0x07, 0x80})).info.netscapeCertType,
            0x8000);
  EXPECT_EQ(
      Parse(Extension(kOidNetscapeCertType, {0x03, 0x03, 0x07, 0x40, 0x80})).info.netscapeCertType,
      0x4000);
  // Too short to hold a byte of bits: passed over, nothing read beyond it.
  EXPECT_EQ(Parse(Extension(kOidNetscapeCertType, {0x03, 0x01, 0x00})).info.netscapeCertType, 0);
}

TEST(ExtensionsBits, BasicConstraintsWantsTheCaFlagOnly) {
  struct Case {
    Bytes value;
    std::int32_t ca;
  } cases[] = {
      {{0x30, 0x03, 0x01, 0x01, 0xFF}, 1},
      {{0x30, 0x06, 0x01, 0x01, 0xFF, 0x02, 0x01, 0x00}, 1},  // with pathLenConstraint
      {{0x30, 0x00}, 0},
      {{0x30, 0x03, 0x01, 0x01, 0x00}, 0},  // cA FALSE
      {{0x30, 0x03, 0x02, 0x01, 0x05}, 0},  // pathLen alone
      {{0x30, 0x02, 0x01, 0x01}, 0},        // BOOLEAN cut by the SEQUENCE
  };
  const Bytes earlierCa = Extension(kOidBasicConstraints, {0x30, 0x03, 0x01, 0x01, 0xFF});
  for (const Case& c : cases) {
    // A later basicConstraints replaces the earlier value.
    EXPECT_EQ(
        Parse(Cat({earlierCa, Extension(kOidBasicConstraints, c.value)})).info.basicConstraintsCA,
        c.ca)
        << testing::PrintToString(c.value);
  }
}

// ---- Key identifiers -----------------------------------------------------------

TEST(ExtensionsKeyIds, SubjectKeyIdentifier) {
  Result r = Parse(Extension(kOidSubjectKeyId, Tlv(0x04, Filler(20))));
  EXPECT_EQ(r.info.subjectKeyIdLen, 20);
  EXPECT_EQ(KeyIdBytes(r.info.subjectKeyId, 20), Filler(20));

  r = Parse(Extension(kOidSubjectKeyId, Tlv(0x04, Filler(21))));
  EXPECT_EQ(r.info.subjectKeyIdLen, 21);
  EXPECT_EQ(KeyIdBytes(r.info.subjectKeyId, 21), Bytes(21, 0));

  r = Parse(Extension(kOidSubjectKeyId, Tlv(0x04, Filler(8))));
  EXPECT_EQ(r.info.subjectKeyIdLen, 8);
  EXPECT_EQ(KeyIdBytes(r.info.subjectKeyId, 8), Filler(8));
}

TEST(ExtensionsKeyIds, AuthorityKeyIdentifier) {
  Result r = Parse(Extension(kOidAuthorityKeyId, Tlv(0x30, Tlv(0x80, Filler(20)))));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.info.authorityKeyIdLen, 20);
  EXPECT_EQ(KeyIdBytes(r.info.authorityKeyId, 20), Filler(20));
  EXPECT_EQ(r.info.authorityCertSerialLen, 0);

  r = Parse(Extension(kOidAuthorityKeyId, Tlv(0x30, Tlv(0x80, Filler(21)))));
  EXPECT_EQ(r.info.authorityKeyIdLen, 21);
  EXPECT_EQ(KeyIdBytes(r.info.authorityKeyId, 21), Bytes(21, 0));

  // keyIdentifier, authorityCertIssuer (stepped over), serial with its sign byte dropped.
  const Bytes issuer = Tlv(0xA1, Tlv(0xA4, Tlv(0x30, Filler(12))));
  r = Parse(Extension(
      kOidAuthorityKeyId,
      Tlv(0x30, Cat({Tlv(0x80, Filler(4)), issuer, Tlv(0x82, Cat({{0x00}, Filler(8, 0x90)}))}))));
  EXPECT_EQ(r.info.authorityKeyIdLen, 4);
  EXPECT_EQ(r.info.authorityCertSerialLen, 8);
  EXPECT_EQ(KeyIdBytes(r.info.authorityCertSerial, 8), Filler(8, 0x90));

  r = Parse(Extension(kOidAuthorityKeyId, Tlv(0x30, Tlv(0x82, {0x00}))));
  EXPECT_EQ(r.info.authorityCertSerialLen, 1);
  EXPECT_EQ(r.info.authorityCertSerial[0], 0x00);

  // Only one zero byte is dropped; 9 bytes still fit.
  r = Parse(Extension(kOidAuthorityKeyId, Tlv(0x30, Tlv(0x82, Cat({{0x00, 0x00}, Filler(8)})))));
  EXPECT_EQ(r.info.authorityCertSerialLen, 9);
  EXPECT_EQ(KeyIdBytes(r.info.authorityCertSerial, 9), Cat({{0x00}, Filler(8)}));

  // 10 bytes are left out, and the walk goes on behind them.
  r = Parse(
      Extension(kOidAuthorityKeyId, Tlv(0x30, Cat({Tlv(0x82, Filler(10)), Tlv(0x80, Filler(3))}))));
  EXPECT_EQ(r.info.authorityCertSerialLen, 0);
  EXPECT_EQ(KeyIdBytes(r.info.authorityCertSerial, 9), Bytes(9, 0));
  EXPECT_EQ(r.info.authorityKeyIdLen, 3);

  // Any other field ends the walk over this extension.
  r = Parse(
      Extension(kOidAuthorityKeyId, Tlv(0x30, Cat({Tlv(0x83, Filler(2)), Tlv(0x80, Filler(3))}))));
  EXPECT_EQ(r.info.authorityKeyIdLen, 20);
}

// Quirk: the serial's length is one byte taken as itself; 0x82 is 130 bytes, not a long form.
TEST(ExtensionsKeyIds, AuthoritySerialLengthIsOneByte) {
  const Bytes value = Tlv(0x30, Cat({RawTlv(0x82, {0x82}, Filler(130)), Tlv(0x80, Filler(3))}));
  const Result r = Parse(Extension(kOidAuthorityKeyId, value));
  EXPECT_EQ(r.info.authorityCertSerialLen, 0);
  EXPECT_EQ(r.info.authorityKeyIdLen, 3);
}

TEST(ExtensionsKeyIds, AuthorityKeyNotASequenceFailsTheWalk) {
  EXPECT_FALSE(
      Parse(Cat({Extension(kOidAuthorityKeyId, Tlv(0x04, Filler(20))), kGoodKeyUsage})).ok);
  EXPECT_FALSE(Parse(Extension(kOidAuthorityKeyId, {})).ok);
}

// ---- Alternative names -------------------------------------------------------

TEST(ExtensionsNames, SubjectAltNameChoices) {
  // Names without a field are stepped over: directoryName, x400Address,
  // ediPartyName, registeredID.
  const Bytes directoryName = Tlv(0xA4, Tlv(0x30, Tlv(0x31, Filler(9))));
  Result r = Parse(Extension(
      kOidSan, Names({Email("a@b.example"), directoryName, Tlv(0xA3, Filler(4)),
                      Tlv(0xA5, Filler(4)), Tlv(0x88, {0x2A, 0x03}), Uri("http://u.example")})));
  EXPECT_STREQ(r.info.sanEmail, "a@b.example");
  EXPECT_STREQ(r.info.sanUri, "http://u.example");
  // A name whose framing is broken still ends the walk.
  r = Parse(
      Extension(kOidSan, Names({Email("a@b"), RawTlv(0xA4, {0x7F}, Filler(3)), Uri("http://u")})));
  EXPECT_STREQ(r.info.sanEmail, "a@b");
  EXPECT_STREQ(r.info.sanUri, "");

  r = Parse(Extension(kOidSan, Names({Dns("d.example"), Tlv(0x87, {192, 0, 2, 1}), Uri("http://u"),
                                      Email("x@y"), Email("z@y")})));
  EXPECT_STREQ(r.info.x5315_100_5_4, "d.example");
  EXPECT_EQ(Bytes(r.info.x5315_100_5_5, r.info.x5315_100_5_5 + 5), Bytes({192, 0, 2, 1, 0}));
  EXPECT_EQ(r.info.sanIpAddressLen, 4);
  EXPECT_STREQ(r.info.sanUri, "http://u");
  EXPECT_STREQ(r.info.sanEmail, "z@y");  // the later name replaces the earlier
}

TEST(ExtensionsNames, StoreIfFitsAndTheSharedDnsField) {
  const std::string dns254(254, 'd');
  Result r = Parse(Extension(kOidSan, Names({Dns(dns254)})));
  EXPECT_EQ(r.info.x5315_100_5_4, dns254);

  r = Parse(Cat({Extension(kOidSan, Names({Dns("first")})),
                 Extension(kOidSan, Names({Dns(std::string(255, 'd')), Email("after@long")}))}));
  EXPECT_STREQ(r.info.x5315_100_5_4, "first");  // 255 bytes leave the field unchanged
  EXPECT_STREQ(r.info.sanEmail, "after@long");  // and the walk goes on behind them

  // Last writer wins between the dNSName and the private value, in both orders.
  r = Parse(Cat({Extension(kOidSan, Names({Dns("from.san")})),
                 Extension(OidX5315(0x05, 4), Tlv(0x0C, Text("private")))}));
  EXPECT_STREQ(r.info.x5315_100_5_4, "private");
  // The shared address field counts the octets of an address, zero ones
  // included, and holds a text again after a private value.
  r = Parse(Cat({Extension(OidX5315(0x05, 5), Tlv(0x0C, Text("private"))),
                 Extension(kOidSan, Names({Tlv(0x87, {10, 0, 0, 1})}))}));
  EXPECT_EQ(Bytes(r.info.x5315_100_5_5, r.info.x5315_100_5_5 + 5), Bytes({10, 0, 0, 1, 0}));
  EXPECT_EQ(r.info.sanIpAddressLen, 4);
  r = Parse(Cat({Extension(kOidSan, Names({Tlv(0x87, {10, 0, 0, 1})})),
                 Extension(OidX5315(0x05, 5), Tlv(0x0C, Text("private")))}));
  EXPECT_STREQ(r.info.x5315_100_5_5, "private");
  EXPECT_EQ(r.info.sanIpAddressLen, 0);
}

TEST(ExtensionsNames, OtherNameByTypeIdentifierLength) {
  const Bytes abc = Tlv(0x0C, Text("abc"));
  Result r = Parse(Extension(kOidSan, Names({OtherName(10, abc), Email("behind@x")})));
  EXPECT_STREQ(r.info.sanUri, "abc");
  EXPECT_STREQ(r.info.sanEmail, "behind@x");

  r = Parse(Extension(kOidSan, Names({OtherName(9, abc), Email("behind@x")})));
  EXPECT_EQ(r.info.sanOtherName9Len, 3);
  EXPECT_EQ(Bytes(r.info.sanOtherName9, r.info.sanOtherName9 + 4), Bytes({'a', 'b', 'c', 0}));
  EXPECT_STREQ(r.info.sanEmail, "behind@x");

  // Another type is stepped over by its length.
  r = Parse(Extension(kOidSan, Names({OtherName(8, abc), Email("behind@x")})));
  EXPECT_STREQ(r.info.sanEmail, "behind@x");
  EXPECT_STREQ(r.info.sanUri, "");

  // 254 bytes stored without terminator; 255 leave both fields unchanged.
  r = Parse(Extension(kOidSan, Names({OtherName(9, Tlv(0x0C, Filler(254)))})));
  EXPECT_EQ(r.info.sanOtherName9Len, 254);
  EXPECT_EQ(Bytes(r.info.sanOtherName9, r.info.sanOtherName9 + 254), Filler(254));
  r = Parse(Extension(kOidSan, Names({OtherName(9, Tlv(0x0C, Filler(255))), Email("behind@x")})));
  EXPECT_EQ(r.info.sanOtherName9Len, 0);
  EXPECT_STREQ(r.info.sanEmail, "behind@x");
}

TEST(ExtensionsNames, IssuerAltName) {
  Result r = Parse(Extension(kOidIan, Names({Email("ca@x"), Uri("http://ca")})));
  EXPECT_STREQ(r.info.ianEmail, "ca@x");
  EXPECT_STREQ(r.info.ianUri, "http://ca");
  EXPECT_STREQ(r.info.sanEmail, "");

  // dNSName, iPAddress and otherName have no field in an issuerAltName: stepped over.
  for (const Bytes& other :
       {Dns("d"), Tlv(0x87, {1, 2, 3, 4}), OtherName(10, Tlv(0x0C, Text("abc")))}) {
    r = Parse(Extension(kOidIan, Names({other, Email("ca@x")})));
    CertExtInfo expected = Presets();
    std::strcpy(expected.ianEmail, "ca@x");
    EXPECT_TRUE(SameRecord(r.info, expected)) << testing::PrintToString(other);
  }
}

// ---- Distribution points and OCSP locations -------------------------------------

TEST(ExtensionsUrls, DistributionPoints) {
  Result r =
      Parse(Extension(kOidCrlDp, Tlv(0x30, Cat({Point({Uri("http://1")}), Point({Uri("http://2")}),
                                                Point({Uri("http://3")})}))));
  EXPECT_STREQ(r.info.crlDistPoint1, "http://1");
  EXPECT_STREQ(r.info.crlDistPoint2, "http://3");

  // The first URI of each point; every point is stepped over by its length,
  // its reasons and cRLIssuer included.
  const Bytes reasons = Tlv(0x81, {0x07, 0x80});
  const Bytes crlIssuer = Tlv(0xA2, Tlv(0xA4, Tlv(0x30, {})));
  r = Parse(Extension(
      kOidCrlDp,
      Tlv(0x30, Cat({Point({Uri("http://1a"), Uri("http://1b")}),
                     Tlv(0x30, Cat({Tlv(0xA0, Tlv(0xA0, Uri("http://2"))), reasons, crlIssuer})),
                     Point({Uri("http://3")})}))));
  EXPECT_STREQ(r.info.crlDistPoint1, "http://1a");
  EXPECT_STREQ(r.info.crlDistPoint2, "http://3");

  // A point named by a directoryName or relative to its issuer, or with no
  // name, gives nothing and does not count; a URI behind a directoryName does.
  const Bytes directoryName = Tlv(0xA4, Tlv(0x30, Tlv(0x31, Filler(9))));
  r = Parse(Extension(
      kOidCrlDp,
      Tlv(0x30, Cat({Point({directoryName}), Tlv(0x30, Tlv(0xA0, Tlv(0xA1, Tlv(0x30, Filler(5))))),
                     Tlv(0x30, crlIssuer), Point({directoryName, Uri("http://1")}),
                     Point({Uri("http://2")})}))));
  EXPECT_STREQ(r.info.crlDistPoint1, "http://1");
  EXPECT_STREQ(r.info.crlDistPoint2, "http://2");
}

TEST(ExtensionsUrls, LongUrlsAreCutTo349Bytes) {
  for (std::size_t n : {349u, 350u, 400u}) {
    const std::string url(n, 'u');
    const Result r = Parse(Extension(kOidCrlDp, Tlv(0x30, Point({Uri(url)}))));
    EXPECT_EQ(std::string(r.info.crlDistPoint1), url.substr(0, 349)) << n;
  }
}

TEST(ExtensionsUrls, OcspLocations) {
  Result r = Parse(Extension(
      kOidAia, Tlv(0x30, Cat({Access(kOidAdOcsp, "http://o1"), Access(kOidAdOcsp, "http://o2"),
                              Access(kOidAdOcsp, "http://o3")}))));
  EXPECT_STREQ(r.info.ocspUrl1, "http://o1");
  EXPECT_STREQ(r.info.ocspUrl2, "http://o3");

  // Descriptions of other methods, or of a location other than a URI, are
  // stepped over.
  r = Parse(Extension(
      kOidAia, Tlv(0x30, Cat({Access(kOidAdOcsp, "http://o1"), Access(kOidAdCaIssuers, "http://ca"),
                              Access(kOidAdOcsp, "http://o2")}))));
  EXPECT_STREQ(r.info.ocspUrl1, "http://o1");
  EXPECT_STREQ(r.info.ocspUrl2, "http://o2");
  r = Parse(
      Extension(kOidAia, Tlv(0x30, Cat({Access(kOidAdCaIssuers, "http://ca"),
                                        Tlv(0x30, Cat({Tlv(0x06, kOidAdOcsp), Dns("o.example")})),
                                        Access(kOidAdOcsp, "http://o1")}))));
  EXPECT_STREQ(r.info.ocspUrl1, "http://o1");
  EXPECT_STREQ(r.info.ocspUrl2, "");

  const std::string long400(400, 'o');
  r = Parse(Extension(kOidAia, Tlv(0x30, Access(kOidAdOcsp, long400))));
  EXPECT_EQ(std::string(r.info.ocspUrl1), long400.substr(0, 349));
}

// ---- Private values --------------------------------------------------------------

TEST(ExtensionsPrivate, TextValues) {
  Result r = Parse(Extension(OidX86(3), {0x1E, 0x04, 0x00, 0x41, 0x00, 0x42}));
  EXPECT_STREQ(r.info.x86_11_7_3, "AB");

  r = Parse(Extension(OidX86(3), {0x0C, 0x03, 0x61, 0x62, 0x63}));
  EXPECT_STREQ(r.info.x86_11_7_3, "abc");

  // Other tags are raw bytes, unconverted (a BMPString's zero bytes end up in the text).
  r = Parse(Extension(OidX113731(29), {0x13, 0x02, 0x00, 0x41}));
  EXPECT_EQ(Bytes(r.info.x113731_29, r.info.x113731_29 + 3), Bytes({0x00, 0x41, 0x00}));

  // The first and last arcs of each family reach their fields.
  r = Parse(
      Cat({Extension(OidX86(1), Tlv(0x0C, Text("a1"))), Extension(OidX86(5), Tlv(0x0C, Text("a5"))),
           Extension(OidX113731(9), Tlv(0x0C, Text("b9"))),
           Extension(OidX5315(0x02, 1), Tlv(0x0C, Text("c1"))),
           Extension(OidX5315(0x02, 4), Tlv(0x0C, Text("c4"))),
           Extension(OidX5315(0x05, 1), Tlv(0x0C, Text("d1"))),
           Extension(OidX5315(0x05, 12), Tlv(0x0C, Text("d12")))}));
  EXPECT_STREQ(r.info.x86_11_7_1, "a1");
  EXPECT_STREQ(r.info.x86_11_7_5, "a5");
  EXPECT_STREQ(r.info.x113731_9, "b9");
  EXPECT_STREQ(r.info.x5315_100_2_1, "c1");
  EXPECT_STREQ(r.info.x5315_100_2_4, "c4");
  EXPECT_STREQ(r.info.x5315_100_5_1, "d1");
  EXPECT_STREQ(r.info.x5315_100_5_12, "d12");

  // Store-if-fits: 254 bytes stored, 255 leave the earlier text.
  r = Parse(Cat({Extension(OidX86(2), Tlv(0x0C, Text(std::string(254, 'x'))))}));
  EXPECT_EQ(std::string(r.info.x86_11_7_2), std::string(254, 'x'));
  r = Parse(Cat({Extension(OidX86(2), Tlv(0x0C, Text("old"))),
                 Extension(OidX86(2), Tlv(0x0C, Text(std::string(255, 'x'))))}));
  EXPECT_STREQ(r.info.x86_11_7_2, "old");
}

// A BMPString converts with the room of the text buffer, not its own byte
// count, so text that grows in the ANSI code page survives (the C locale
// counts as UTF-8 here: U+4E2D U+6587 becomes six bytes from four).
TEST(ExtensionsPrivate, BmpTextMayGrowWhenConverted) {
  const Result r = Parse(Extension(OidX86(4), {0x1E, 0x04, 0x4E, 0x2D, 0x65, 0x87}));
  EXPECT_STREQ(r.info.x86_11_7_4, "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(ExtensionsPrivate, NumericSlot) {
  struct Case {
    Bytes value;
    std::int32_t number;
  } cases[] = {
      {{0x02, 0x01, 0x05}, 5},
      {{0x02, 0x02, 0x01, 0x00}, 256},
      {{0x02, 0x03, 0x01, 0x02, 0x03}, 1},  // only the first of a longer text
      {{0x02, 0x02, 0xFF, 0xFF}, 0xFFFF},
      {{0x02, 0x00}, 0},
      {{0x1E, 0x04, 0x00, 0x41, 0x00, 0x42}, 0x4142},  // converted text "AB"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(Extension(OidX5315(0x02, 2), c.value)).info.x5315_100_2_2, c.number)
        << testing::PrintToString(c.value);
  }
}

// ---- Limits ------------------------------------------------------------------------

// Inside a recognised extension, an element that runs past the value (or its
// container) ends the work on that extension; the next one is decoded.
TEST(ExtensionsLimits, InnerLengthsPastTheValueEndThatExtensionOnly) {
  const Bytes bigLength = {0x84, 0xFF, 0xFF, 0xFF, 0xF0};
  const Bytes bad[] = {
      Extension(kOidSubjectKeyId, {0x04, 0x15, 0x01, 0x02}),
      Extension(kOidSubjectKeyId, Cat({{0x04}, bigLength})),
      Extension(kOidSubjectKeyId, {}),
      Extension(kOidBasicConstraints, {0x30, 0x05, 0x01, 0x01, 0xFF}),
      Extension(kOidSan, {0x30, 0x7F, 0x81, 0x03, 0x61, 0x62, 0x63}),
      Extension(kOidSan, Names({RawTlv(0x81, {0x05}, Text("abc"))})),
      Extension(kOidSan, Names({RawTlv(0x81, bigLength, Text("abc"))})),
      Extension(kOidSan, Names({OtherName(10, RawTlv(0x0C, {0x09}, Text("abc")))})),
      Extension(kOidSan, Names({Tlv(0xA0, Cat({{0x06, 0x0A}, Filler(4)}))})),
      Extension(kOidIan, {0x30}),
      Extension(kOidCrlDp,
                Tlv(0x30, Tlv(0x30, Tlv(0xA0, Tlv(0xA0, RawTlv(0x86, {0x20}, Text("http://"))))))),
      Extension(kOidCrlDp, Tlv(0x30, {0x30, 0x84})),
      Extension(
          kOidAia,
          Tlv(0x30, Tlv(0x30, Cat({Tlv(0x06, kOidAdOcsp), RawTlv(0x86, {0x09}, Text("h"))})))),
      Extension(kOidAia, Tlv(0x30, Tlv(0x30, RawTlv(0x06, {0x08}, Filler(3))))),
      Extension(kOidAuthorityKeyId, Tlv(0x30, RawTlv(0x80, {0x14}, Filler(19)))),
      Extension(kOidAuthorityKeyId, Tlv(0x30, RawTlv(0x82, {0x05}, Filler(2)))),
      Extension(kOidAuthorityKeyId, {0x30, 0x10, 0x80, 0x01, 0x01}),
      Extension(OidX86(1), {0x0C, 0x05, 0x61, 0x62}),
      Extension(OidX5315(0x02, 2), {0x02, 0x02, 0x01}),
      Extension(kOidNetscapeCertType, {0x03, 0x02, 0x07}),
      Extension(kOidKeyUsage, {}),
  };
  const CertExtInfo expected = Parse(kGoodKeyUsage).info;
  for (const Bytes& ext : bad) {
    const Result r = Parse(Cat({ext, kGoodKeyUsage}));
    EXPECT_TRUE(r.ok) << testing::PrintToString(ext);
    EXPECT_TRUE(SameRecord(r.info, expected)) << testing::PrintToString(ext);
  }
}

// Values of any size are decoded in place (the samples san-large and the
// 64 KB certificate of real_certs_test); a BMPString private value converts
// up to the 350 characters its buffer holds.
TEST(ExtensionsLimits, BmpPrivateValuesConvertUpTo350Characters) {
  // A BMPString of n characters U+hhll.
  auto bmp = [](std::size_t n, std::uint8_t hh, std::uint8_t ll) {
    Bytes units;
    for (std::size_t i = 0; i < n; ++i) units = Cat({units, {hh, ll}});
    return Tlv(0x1E, units);
  };
  Result r = Parse(Extension(OidX86(1), bmp(254, 0x00, 0x41)));
  EXPECT_EQ(std::string(r.info.x86_11_7_1), std::string(254, 'A'));
  // Over 350 characters (700 bytes) a BMPString is passed over unconverted,
  // rather than failing to convert into the buffer (U+4E2D takes three bytes
  // in the C locale's UTF-8) and storing an empty text.
  r = Parse(Cat(
      {Extension(OidX86(1), Tlv(0x0C, Text("old"))), Extension(OidX86(1), bmp(351, 0x4E, 0x2D))}));
  EXPECT_STREQ(r.info.x86_11_7_1, "old");
}

// Known-good extensions of every kind, used for the cut tests below.
std::vector<std::pair<Bytes, Bytes>> SampleExtensions() {
  return {
      {kOidSubjectKeyId, Tlv(0x04, Filler(20))},
      {kOidKeyUsage, {0x03, 0x03, 0x07, 0x80, 0x80}},
      {kOidBasicConstraints, {0x30, 0x06, 0x01, 0x01, 0xFF, 0x02, 0x01, 0x00}},
      {kOidSan, Names({Email("a@b"), Dns("d"), OtherName(10, Tlv(0x0C, Text("abc"))),
                       OtherName(9, Tlv(0x0C, Text("raw"))), Uri("http://u")})},
      {kOidIan, Names({Email("ca@x"), Uri("http://ca")})},
      {kOidCrlDp, Tlv(0x30, Cat({Point({Uri("http://1")}), Point({Uri("http://2")})}))},
      {kOidAia, Tlv(0x30, Cat({Access(kOidAdOcsp, "http://o1"), Access(kOidAdOcsp, "http://o2")}))},
      {kOidAuthorityKeyId,
       Tlv(0x30, Cat({Tlv(0x80, Filler(20)), Tlv(0xA1, Tlv(0xA4, Tlv(0x30, Filler(5)))),
                      Tlv(0x82, Cat({{0x00}, Filler(8, 0x80)}))}))},
      {kOidNetscapeCertType, {0x03, 0x02, 0x07, 0x80}},
      {OidX86(3), {0x1E, 0x04, 0x00, 0x41, 0x00, 0x42}},
      {OidX5315(0x02, 2), {0x02, 0x02, 0x01, 0x00}},
      {OidX5315(0x05, 4), Tlv(0x0C, Text("private"))},
  };
}

// Cut inside the outer frame: -2 unless the cut falls between two extensions.
TEST(ExtensionsLimits, EveryCutOfTheInput) {
  Bytes all;
  std::vector<std::size_t> boundaries = {0};
  for (const auto& [oid, value] : SampleExtensions()) {
    all = Cat({all, CriticalExt(oid, value)});
    boundaries.push_back(all.size());
  }
  const Result whole = Parse(all);
  ASSERT_TRUE(whole.ok);
  EXPECT_STREQ(whole.info.x5315_100_5_4, "private");
  for (std::size_t cut = 0; cut < all.size(); ++cut) {
    const bool boundary = std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
    EXPECT_EQ(Parse(Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(cut))).ok,
              boundary)
        << "cut at " << cut;
  }
}

// Cut inside the value, with a frame that fits the cut: the handler sees a
// value that ends early (at the end of the heap block) and must stay inside it.
TEST(ExtensionsLimits, EveryCutOfEachValue) {
  for (const auto& [oid, value] : SampleExtensions()) {
    for (std::size_t cut = 0; cut < value.size(); ++cut) {
      const Bytes part(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_EQ(Parse(Extension(oid, part)).ok, oid != kOidAuthorityKeyId || cut != 0)
          << testing::PrintToString(oid) << cut;
    }
  }
}

// ---- A certificate made by OpenSSL -------------------------------------------------

struct Freer {
  void operator()(X509* p) const { X509_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(GENERAL_NAMES* p) const { GENERAL_NAMES_free(p); }
  void operator()(CRL_DIST_POINTS* p) const { CRL_DIST_POINTS_free(p); }
  void operator()(AUTHORITY_INFO_ACCESS* p) const { AUTHORITY_INFO_ACCESS_free(p); }
  void operator()(ASN1_BIT_STRING* p) const { ASN1_BIT_STRING_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Freer>;

TEST(ExtensionsOpenSsl, SelfSignedCertificateAgreesWithOpenSsl) {
  Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
  ASSERT_TRUE(key);
  Owned<X509> cert(X509_new());
  ASSERT_TRUE(X509_set_version(cert.get(), X509_VERSION_3));
  ASSERT_TRUE(ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), 0x8877665544332211u));
  X509_NAME* name = X509_get_subject_name(cert.get());
  ASSERT_TRUE(X509_NAME_add_entry_by_txt(
      name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Test CA"), -1, -1, 0));
  ASSERT_TRUE(X509_set_issuer_name(cert.get(), name));
  ASSERT_TRUE(X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0));
  ASSERT_TRUE(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400));
  ASSERT_TRUE(X509_set_pubkey(cert.get(), key.get()));

  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
  const std::pair<int, const char*> exts[] = {
      {NID_subject_key_identifier, "hash"},
      {NID_authority_key_identifier, "keyid:always,issuer:always"},
      {NID_key_usage, "critical,digitalSignature,keyCertSign,cRLSign"},
      {NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
      {NID_subject_alt_name,
       "email:ca@example.com,DNS:ca.example.com,IP:192.0.2.7,URI:http://ca.example.com/"},
      {NID_crl_distribution_points, "URI:http://crl.example.com/ca.crl"},
      {NID_info_access,
       "OCSP;URI:http://ocsp1.example.com,OCSP;URI:http://ocsp2.example.com,"
       "caIssuers;URI:http://ca.example.com/ca.cer"},
      {NID_netscape_cert_type, "sslCA,emailCA"},
  };
  for (const auto& [nid, text] : exts) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, text);
    ASSERT_NE(ext, nullptr) << text;
    ASSERT_TRUE(X509_add_ext(cert.get(), ext, -1));
    X509_EXTENSION_free(ext);
  }
  ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);

  // The Extensions SEQUENCE as it is encoded in the certificate.
  unsigned char* der = nullptr;
  const int derLength =
      i2d_X509_EXTENSIONS(const_cast<X509_EXTENSIONS*>(X509_get0_extensions(cert.get())), &der);
  ASSERT_GT(derLength, 0);
  const Bytes sequence(der, der + derLength);
  OPENSSL_free(der);
  kx::der::Reader r = kx::der::MakeReader(sequence.data(), sequence.size());
  kx::der::Element extensions{};
  ASSERT_TRUE(kx::der::ReadExpected(r, kx::der::kTagSequence, extensions));
  const Result got = Parse(Bytes(extensions.content.pos, extensions.content.end));
  ASSERT_TRUE(got.ok);

  // keyUsage: OpenSSL keeps the first byte low, this record keeps it high.
  const std::uint32_t usage = X509_get_key_usage(cert.get());
  EXPECT_EQ(got.info.keyUsage, static_cast<std::int32_t>(((usage & 0xFF) << 8) | (usage >> 8)));
  EXPECT_EQ(got.info.keyUsage, 0x8000 | 0x0400 | 0x0200);
  EXPECT_EQ(got.info.basicConstraintsCA,
            (X509_get_extension_flags(cert.get()) & EXFLAG_CA) ? 1 : 0);
  EXPECT_EQ(got.info.basicConstraintsCA, 1);

  const Bytes ski = kxtest::AsnBytes(X509_get0_subject_key_id(cert.get()));
  EXPECT_EQ(got.info.subjectKeyIdLen, static_cast<std::int32_t>(ski.size()));
  EXPECT_EQ(KeyIdBytes(got.info.subjectKeyId, ski.size()), ski);
  const Bytes akid = kxtest::AsnBytes(X509_get0_authority_key_id(cert.get()));
  EXPECT_EQ(KeyIdBytes(got.info.authorityKeyId, akid.size()), akid);
  EXPECT_EQ(got.info.authorityKeyIdLen, static_cast<std::int32_t>(akid.size()));
  const Bytes serial = kxtest::AsnBytes(X509_get0_authority_serial(cert.get()));  // magnitude bytes
  EXPECT_EQ(serial, Bytes({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(got.info.authorityCertSerialLen, static_cast<std::int32_t>(serial.size()));
  EXPECT_EQ(KeyIdBytes(got.info.authorityCertSerial, serial.size()), serial);

  Owned<GENERAL_NAMES> san(static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(cert.get(), NID_subject_alt_name, nullptr, nullptr)));
  ASSERT_TRUE(san);
  ASSERT_EQ(sk_GENERAL_NAME_num(san.get()), 4);
  EXPECT_EQ(got.info.sanEmail, kxtest::AsnText(sk_GENERAL_NAME_value(san.get(), 0)->d.rfc822Name));
  EXPECT_EQ(got.info.x5315_100_5_4,
            kxtest::AsnText(sk_GENERAL_NAME_value(san.get(), 1)->d.dNSName));
  const Bytes ip = kxtest::AsnBytes(sk_GENERAL_NAME_value(san.get(), 2)->d.iPAddress);
  EXPECT_EQ(KeyIdBytes(reinterpret_cast<const std::uint8_t*>(got.info.x5315_100_5_5), 5),
            Cat({ip, {0}}));
  EXPECT_EQ(got.info.sanUri,
            kxtest::AsnText(sk_GENERAL_NAME_value(san.get(), 3)->d.uniformResourceIdentifier));

  Owned<CRL_DIST_POINTS> dps(static_cast<CRL_DIST_POINTS*>(
      X509_get_ext_d2i(cert.get(), NID_crl_distribution_points, nullptr, nullptr)));
  ASSERT_TRUE(dps);
  const GENERAL_NAMES* full = sk_DIST_POINT_value(dps.get(), 0)->distpoint->name.fullname;
  EXPECT_EQ(got.info.crlDistPoint1,
            kxtest::AsnText(sk_GENERAL_NAME_value(full, 0)->d.uniformResourceIdentifier));
  EXPECT_STREQ(got.info.crlDistPoint2, "");

  Owned<AUTHORITY_INFO_ACCESS> aia(static_cast<AUTHORITY_INFO_ACCESS*>(
      X509_get_ext_d2i(cert.get(), NID_info_access, nullptr, nullptr)));
  ASSERT_TRUE(aia);
  std::vector<std::string> ocsp;
  for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(aia.get()); ++i) {
    const ACCESS_DESCRIPTION* ad = sk_ACCESS_DESCRIPTION_value(aia.get(), i);
    if (OBJ_obj2nid(ad->method) == NID_ad_OCSP) {
      ocsp.push_back(kxtest::AsnText(ad->location->d.uniformResourceIdentifier));
    }
  }
  ASSERT_EQ(ocsp.size(), 2u);
  EXPECT_EQ(got.info.ocspUrl1, ocsp[0]);
  EXPECT_EQ(got.info.ocspUrl2, ocsp[1]);

  Owned<ASN1_BIT_STRING> nsType(static_cast<ASN1_BIT_STRING*>(
      X509_get_ext_d2i(cert.get(), NID_netscape_cert_type, nullptr, nullptr)));
  ASSERT_TRUE(nsType);
  EXPECT_EQ(got.info.netscapeCertType, ASN1_STRING_get0_data(nsType.get())[0] * 256);
  EXPECT_EQ(got.info.netscapeCertType, (NS_SSL_CA | NS_SMIME_CA) * 256);
}

}  // namespace
