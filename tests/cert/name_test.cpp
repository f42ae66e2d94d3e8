// The name walker: framing of RDNs, the three string conversions, the
// domainComponent join, the fields' and buffers' limits, the walker's
// deliberate shortcuts, and names that OpenSSL encodes. Texts are compared
// as UTF-8: the test process keeps the C locale.
#include "cert/name.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "der/reader.h"
#include "support/cert_builder.h"
#include "support/tlv_builder.h"

namespace {

using kx::cert::CertNameInfo;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::RawTlv;
using kxtest::Text;
using kxtest::Tlv;

constexpr std::uint8_t kPrintable = 0x13;
constexpr std::uint8_t kIa5 = 0x16;
constexpr std::uint8_t kUtf8 = 0x0C;
constexpr std::uint8_t kTeletex = 0x14;
constexpr std::uint8_t kBmp = 0x1E;
constexpr std::uint8_t kUniversal = 0x1C;

Bytes X520(std::uint8_t last) {
  return {0x55, 0x04, last};
}
const Bytes kC = X520(6), kO = X520(10), kOu = X520(11), kCn = X520(3), kL = X520(7);
const Bytes kDc = {0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x19};
const Bytes& kEmail = kxtest::kOidEmail;

Bytes Atv(const Bytes& oid, std::uint8_t tag, const Bytes& value) {
  return Tlv(0x30, Cat({Tlv(0x06, oid), Tlv(tag, value)}));
}
Bytes Rdn(const Bytes& oid, std::uint8_t tag, const Bytes& value) {
  return Tlv(0x31, Atv(oid, tag, value));
}
Bytes Rdn(const Bytes& oid, const std::string& printable) {
  return Rdn(oid, kPrintable, Text(printable));
}

// Walks the first `length` bytes of `contents`, copied into an exactly sized
// heap block, into a record first filled with garbage: 0, or -2 for a
// malformed name.
std::int32_t Parse(const Bytes& contents, CertNameInfo& info, std::size_t length) {
  const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length]);
  std::copy_n(contents.begin(), length, copy.get());
  std::memset(&info, 0xA5, sizeof info);
  return kx::cert::GetNameInfoFromDER(kx::der::MakeReader(copy.get(), length), info) ? 0 : -2;
}
std::int32_t Parse(const Bytes& contents, CertNameInfo& info) {
  return Parse(contents, info, contents.size());
}

using Field = char (CertNameInfo::*)[256];
struct Attribute {
  const char* name;
  int nid;
  Field field;
};
const Attribute kAttributes[] = {
    {"O", NID_organizationName, &CertNameInfo::organization},
    {"OU", NID_organizationalUnitName, &CertNameInfo::organizationalUnit},
    {"ST", NID_stateOrProvinceName, &CertNameInfo::stateOrProvince},
    {"CN", NID_commonName, &CertNameInfo::commonName},
    {"L", NID_localityName, &CertNameInfo::locality},
    {"email", NID_pkcs9_emailAddress, &CertNameInfo::email},
    {"postalAddress", NID_postalAddress, &CertNameInfo::postalAddress},
    {"postalCode", NID_postalCode, &CertNameInfo::postalCode},
    {"postOfficeBox", NID_postOfficeBox, &CertNameInfo::postOfficeBox},
    {"telephoneNumber", NID_telephoneNumber, &CertNameInfo::telephoneNumber},
    {"telexNumber", NID_telexNumber, &CertNameInfo::telexNumber},
    {"title", NID_title, &CertNameInfo::title},
    {"SN", NID_surname, &CertNameInfo::surname},
    {"GN", NID_givenName, &CertNameInfo::givenName},
    {"initials", NID_initials, &CertNameInfo::initials},
    {"description", NID_description, &CertNameInfo::description},
    {"serialNumber", NID_serialNumber, &CertNameInfo::serialNumber},
    {"name", NID_name, &CertNameInfo::name},
    {"generationQualifier", NID_generationQualifier, &CertNameInfo::generationQualifier},
};

// The record's non-empty fields, by name; a field without its terminator
// shows as "<unterminated>".
std::map<std::string, std::string> Filled(const CertNameInfo& info) {
  std::map<std::string, std::string> out;
  auto add = [&out](const char* name, const char* field, std::size_t size) {
    const std::size_t n = strnlen(field, size);
    if (n == size) {
      out[name] = "<unterminated>";
    } else if (n != 0) {
      out[name] = std::string(field, n);
    }
  };
  add("C", info.country, sizeof info.country);
  add("DC", info.domainComponent, sizeof info.domainComponent);
  for (const Attribute& a : kAttributes) add(a.name, info.*a.field, 256);
  return out;
}

using Texts = std::map<std::string, std::string>;

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

const std::string kZhong = "\xE4\xB8\xAD";  // U+4E2D in UTF-8

// ---- Framing ------------------------------------------------------------------

TEST(NameWalk, EmptyNameGivesAClearedRecord) {
  CertNameInfo info;
  EXPECT_EQ(Parse(Rdn(kCn, "abc"), info, 0), 0);
  const CertNameInfo zero{};
  EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
}

TEST(NameWalk, PrintableStringsFillTheirFieldsAndNothingElse) {
  CertNameInfo info;
  ASSERT_EQ(Parse(Cat({Rdn(kC, "CN"), Rdn(kO, "Org"), Rdn(kCn, "abc")}), info), 0);
  EXPECT_EQ(Filled(info), (Texts{{"C", "CN"}, {"O", "Org"}, {"CN", "abc"}}));
  // The fields are zero behind their texts.
  EXPECT_EQ(info.commonName[4], '\0');
  EXPECT_EQ(info.commonName[255], '\0');
}

TEST(NameWalk, LaterValueReplacesEarlier) {
  CertNameInfo info;
  ASSERT_EQ(Parse(Cat({Rdn(kOu, "Sales"), Rdn(kOu, "IT")}), info), 0);
  EXPECT_EQ(Filled(info), (Texts{{"OU", "IT"}}));
}

TEST(NameWalk, DomainComponentsJoinLastFirst) {
  CertNameInfo info;
  ASSERT_EQ(Parse(Rdn(kDc, kIa5, Text("x")), info), 0);
  EXPECT_EQ(Filled(info), (Texts{{"DC", "x"}}));
  ASSERT_EQ(Parse(Cat({Rdn(kDc, kIa5, Text("b")), Rdn(kDc, kIa5, Text("a"))}), info), 0);
  EXPECT_EQ(Filled(info), (Texts{{"DC", "a.b"}}));
  ASSERT_EQ(Parse(Cat({Rdn(kDc, kIa5, Text("com")), Rdn(kCn, "x"), Rdn(kDc, kIa5, Text("ex")),
                       Rdn(kDc, kIa5, Text("www"))}),
                  info),
            0);
  EXPECT_EQ(info.domainComponent, std::string("www.ex.com"));
}

TEST(NameWalk, WrongTagsFailAndKeepEarlierFields) {
  const Bytes good = Rdn(kCn, "abc");
  const Bytes bad[] = {
      Tlv(0x02, {0x01}),             // no SET
      Tlv(0x31, Tlv(0x02, {0x01})),  // SET without SEQUENCE
      Tlv(0x31, Tlv(0x30, Cat({Tlv(0x04, kO), Tlv(kPrintable, Text("O"))}))),  // no OID
  };
  for (const Bytes& b : bad) {
    CertNameInfo info;
    EXPECT_EQ(Parse(Cat({good, b, Rdn(kO, "Org")}), info), -2);
    EXPECT_EQ(Filled(info), (Texts{{"CN", "abc"}}));
  }
}

TEST(NameWalk, EveryTruncationFailsExceptAtAnRdnBoundary) {
  const Bytes first = Rdn(kCn, "abc");
  const Bytes der = Cat({first, Rdn(kO, kBmp, {0x00, 0x41}), Rdn(kL, kUtf8, Text("x"))});
  const std::size_t second = first.size() + Rdn(kO, kBmp, {0x00, 0x41}).size();
  for (std::size_t cut = 1; cut < der.size(); ++cut) {
    CertNameInfo info;
    const std::int32_t expected = (cut == first.size() || cut == second) ? 0 : -2;
    EXPECT_EQ(Parse(der, info, cut), expected) << "cut at " << cut;
  }
}

// ---- Values -------------------------------------------------------------------

TEST(NameValues, StringTypes) {
  const struct {
    const char* what;
    std::uint8_t tag;
    Bytes value;
    std::string text;
  } cases[] = {
      {"BMP", kBmp, {0x00, 0x41, 0x00, 0x42}, "AB"},
      {"BMP, odd last byte", kBmp, {0x00, 0x41, 0x00, 0x42, 0x43}, "AB"},
      {"BMP, one byte", kBmp, {0x41}, ""},
      // Converted with the value buffer's room, not the value's 4 bytes.
      {"BMP CJK", kBmp, {0x4E, 0x2D, 0x56, 0xFD}, "\xE4\xB8\xAD\xE5\x9B\xBD"},
      {"BMP unpaired surrogate",
       kBmp,
       {0xD8, 0x3D, 0x00, 0x41},
       "\xEF\xBF\xBD"
       "A"},
      {"UTF8String", kUtf8, Text("abc"), "abc"},
      {"TeletexString, read as UTF-8", kTeletex, Text("abc"), "abc"},
      {"UTF8String, invalid byte", kUtf8, {0x61, 0xFF}, "a\xEF\xBF\xBD"},
      {"UTF8String, 199 bytes", kUtf8, Text(std::string(199, 'u')), std::string(199, 'u')},
      {"UTF8String, 66 CJK", kUtf8, Text(Repeat(kZhong, 66)), Repeat(kZhong, 66)},
      {"UTF8String, stops at a NUL", kUtf8, {0x61, 0x00, 0x62}, "a"},
      {"UniversalString, 5 bytes", kUniversal, {0, 0, 0, 0x41, 0}, "A"},
      {"UniversalString, 6 bytes", kUniversal, {0, 0, 0, 0x41, 0, 0}, "A"},
      {"UniversalString, 7 bytes", kUniversal, {0, 0, 0, 0x41, 0, 0, 0}, "A"},
      {"UniversalString, 3 bytes", kUniversal, {0, 0, 0x41}, ""},
      {"UniversalString above U+FFFF",
       kUniversal,
       {0, 1, 0xF6, 0x00, 0, 0, 0x4E, 0x2D},
       "\xF0\x9F\x98\x80" + kZhong},
      // Neither a surrogate nor a value above U+10FFFF pairs with its neighbour.
      {"UniversalString surrogates and U+110000",
       kUniversal,
       {0, 0, 0xD8, 0x3D, 0, 0, 0xDE, 0x00, 0, 0x11, 0, 0, 0x80, 0, 0, 0x41},
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"IA5String, raw", kIa5, Text("a@b"), "a@b"},
      {"a constructed value, raw", 0x30, {0x61, 0x62}, "ab"},
  };
  for (const auto& c : cases) {
    CertNameInfo info;
    ASSERT_EQ(Parse(Cat({Rdn(kCn, c.tag, c.value), Rdn(kL, "next")}), info), 0) << c.what;
    EXPECT_EQ(info.commonName, c.text) << c.what;
    EXPECT_STREQ(info.locality, "next") << c.what;
  }
}

TEST(NameValues, UnrecognisedAttributesAreSkipped) {
  const Bytes skipped[] = {
      X520(9),                                                       // streetAddress
      X520(45),                                                      // third byte 45
      X520(6 + 0x80),                                                // no mask on the byte
      {0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x01},  // userId
      {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x02},        // unstructuredName
      {0x55, 0x04},                                                  // two bytes
      {},                                                            // empty
      kxtest::Filler(21),                                            // over the OID buffer
      Cat({kxtest::Filler(117), kCn}),                               // ends like commonName
  };
  for (const Bytes& oid : skipped) {
    CertNameInfo info;
    ASSERT_EQ(Parse(Cat({Rdn(oid, kPrintable, Text("skip")), Rdn(kCn, "kept")}), info), 0);
    EXPECT_EQ(Filled(info), (Texts{{"CN", "kept"}}));
  }
}

TEST(NameValues, EmailAndTheThirdByteAlone) {
  CertNameInfo info;
  ASSERT_EQ(
      Parse(Cat({Rdn(kEmail, kIa5, Text("a@b.c")), Rdn({0x2A, 0x03, 0x03}, "odd arc")}), info), 0);
  EXPECT_EQ(Filled(info), (Texts{{"email", "a@b.c"}, {"CN", "odd arc"}}));
}

// ---- Quirks -------------------------------------------------------------------

TEST(NameWalk, EveryMemberOfAMultiValuedRdnInOrder) {
  const Bytes a = Atv(kCn, kPrintable, Text("a")), b = Atv(kO, kPrintable, Text("b"));
  const struct {
    const char* what;
    Bytes der;
    Texts texts;
  } cases[] = {
      {"two types",
       Cat({Rdn(kC, "DE"), Tlv(0x31, Cat({a, b})), Rdn(kL, "x")}),
       {{"C", "DE"}, {"CN", "a"}, {"O", "b"}, {"L", "x"}}},
      {"one type: the later member wins",
       Cat({Tlv(0x31, Cat({Atv(kOu, kPrintable, Text("1")), Atv(kOu, kPrintable, Text("2")), a})),
            Rdn(kL, "x")}),
       {{"OU", "2"}, {"CN", "a"}, {"L", "x"}}},
      {"domainComponents join last first",
       Tlv(0x31, Cat({Atv(kDc, kIa5, Text("com")), Atv(kDc, kIa5, Text("ex"))})),
       {{"DC", "ex.com"}}},
      // A SET that ends inside its first member holds that member alone; the
      // next byte, a SEQUENCE, then ends the walk.
      {"a SET shorter than its first member",
       Cat({RawTlv(0x31, {0x02}, Cat({a, b})), Rdn(kL, "x")}),
       {{"CN", "a"}}},
      {"a SET that runs past the Name",
       Cat({RawTlv(0x31, {0x7F}, Cat({a, b})), Rdn(kL, "x")}),
       {{"CN", "a"}}},
      {"members beyond the SET's end", Cat({Tlv(0x31, a), b, Rdn(kL, "x")}), {{"CN", "a"}}},
      // Members are read while the walk is inside the SET: one that starts
      // there is read whole, and the walk goes on behind it.
      {"a member past the SET's end",
       Cat({RawTlv(0x31, {static_cast<std::uint8_t>(a.size() + 1)}, Cat({a, b})), Rdn(kL, "x")}),
       {{"CN", "a"}, {"O", "b"}, {"L", "x"}}},
  };
  for (const auto& c : cases) {
    CertNameInfo info;
    EXPECT_EQ(Parse(c.der, info), 0) << c.what;
    EXPECT_EQ(Filled(info), c.texts) << c.what;
  }
  // A malformed member fails as a malformed RDN does.
  CertNameInfo info;
  EXPECT_EQ(Parse(Tlv(0x31, Cat({a, Tlv(0x30, Tlv(0x04, kO))})), info), -2);
  EXPECT_EQ(Filled(info), (Texts{{"CN", "a"}}));
}

TEST(NameQuirks, SetAndSequenceLengthsAreNotUsedToFrame) {
  const Bytes atv = Atv(kCn, kPrintable, Text("abc"));
  const Bytes inner = Cat({Tlv(0x06, kCn), Tlv(kPrintable, Text("abc"))});
  const Bytes rdns[] = {
      RawTlv(0x31, {0x00}, atv),
      RawTlv(0x31, {0x7F}, atv),
      RawTlv(0x31, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}, atv),
      RawTlv(0x31, {0x82, 0x00, 0x01}, RawTlv(0x30, {0x81, 0x00}, inner)),
  };
  for (const Bytes& rdn : rdns) {
    CertNameInfo info;
    EXPECT_EQ(Parse(Cat({rdn, Rdn(kO, "Org")}), info), 0);
    EXPECT_EQ(Filled(info), (Texts{{"CN", "abc"}, {"O", "Org"}}));
  }
}

// ---- Limits -------------------------------------------------------------------

TEST(NameLimits, LongTextsAreCutToTheirField) {
  CertNameInfo info;
  const std::string longText(300, 'x');
  ASSERT_EQ(Parse(Cat({Rdn(kCn, longText), Rdn(kC, std::string(30, 'c')),
                       Rdn(kO, std::string(255, 'o'))}),
                  info),
            0);
  EXPECT_EQ(info.commonName, longText.substr(0, 255));
  EXPECT_EQ(info.country, std::string(19, 'c'));
  EXPECT_EQ(info.organization, std::string(255, 'o'));
}

TEST(NameLimits, CjkTextIsCutAtACharacterBoundary) {
  // "A" and 90 times U+4E2D: 271 bytes of UTF-8; 255 would end inside a character.
  Bytes bmp = {0x00, 0x41};
  for (int i = 0; i < 90; ++i) bmp.insert(bmp.end(), {0x4E, 0x2D});
  const std::string utf8 = "A" + Repeat(kZhong, 90);
  const std::string cut = "A" + Repeat(kZhong, 84);  // 253 bytes
  CertNameInfo info;
  ASSERT_EQ(Parse(Cat({Rdn(kCn, kBmp, bmp), Rdn(kO, kIa5, Text(utf8))}), info), 0);
  EXPECT_EQ(info.commonName, cut);
  EXPECT_EQ(info.organization, cut);
}

TEST(NameLimits, JoinedDomainComponentIsCut) {
  CertNameInfo info;
  ASSERT_EQ(Parse(Cat({Rdn(kDc, kIa5, Text(std::string(200, 'a'))),
                       Rdn(kDc, kIa5, Text(std::string(100, 'b')))}),
                  info),
            0);
  EXPECT_EQ(info.domainComponent, std::string(100, 'b') + "." + std::string(154, 'a'));
  // A value longer than the field is cut where it would be cut alone.
  ASSERT_EQ(
      Parse(Cat({Rdn(kDc, kIa5, Text("x")), Rdn(kDc, kUtf8, Text("A" + Repeat(kZhong, 400)))}),
            info),
      0);
  EXPECT_EQ(info.domainComponent, "A" + Repeat(kZhong, 84));
}

// Values of any length and string type are cut to their field, as a short
// one is; none fails the name. The converters see only a value's first
// characters, so the cases lie on both sides of what they read.
TEST(NameLimits, LongValuesAreCutNeverRefused) {
  Bytes bmp, universal;
  for (int i = 0; i < 3000; ++i) bmp.insert(bmp.end(), {0x4E, 0x2D});
  for (int i = 0; i < 3000; ++i) universal.insert(universal.end(), {0, 1, 0xF6, 0x00});
  const std::string invalid(3000, '\xFF');
  const struct {
    const char* what;
    Bytes rdn;
    std::string text;
  } cases[] = {
      {"UTF8String of 200 bytes", Rdn(kCn, kUtf8, Text(std::string(200, 'u'))),
       std::string(200, 'u')},
      {"UTF8String of 1025 bytes", Rdn(kCn, kUtf8, Text("A" + Repeat(kZhong, 341) + "B")),
       "A" + Repeat(kZhong, 84)},
      {"TeletexString of 300 bytes", Rdn(kCn, kTeletex, Text(std::string(300, 't'))),
       std::string(255, 't')},
      // Each invalid byte is one replacement character of three bytes.
      {"invalid UTF-8 of 3000 bytes", Rdn(kCn, kUtf8, Text(invalid)), Repeat("\xEF\xBF\xBD", 85)},
      {"raw value of 5000 bytes", Rdn(kCn, kIa5, Text(std::string(5000, 'r'))),
       std::string(255, 'r')},
      {"BMPString of 3000 characters", Rdn(kCn, kBmp, bmp), Repeat(kZhong, 85)},
      {"UniversalString of 3000 characters", Rdn(kCn, kUniversal, universal),
       Repeat("\xF0\x9F\x98\x80", 63)},
  };
  for (const auto& c : cases) {
    CertNameInfo info;
    EXPECT_EQ(Parse(Cat({Rdn(kO, "Org"), c.rdn, Rdn(kL, "next")}), info), 0) << c.what;
    EXPECT_EQ(info.commonName, c.text) << c.what;
    EXPECT_STREQ(info.locality, "next") << c.what;
  }
}

TEST(NameLimits, LengthsPastTheNameOrInLongFormFail) {
  const Bytes bad[] = {
      {0x31},                                                 // SET tag alone
      {0x31, 0x82, 0x00},                                     // SET length cut short
      {0x31, 0x05, 0x30},                                     // SEQUENCE tag alone
      Tlv(0x31, Tlv(0x30, RawTlv(0x06, {0x05}, kCn))),        // OID past the end
      Tlv(0x31, Tlv(0x30, RawTlv(0x06, {0x81, 0x03}, kCn))),  // OID length in long form
      // An OID length byte of 0x80 or more, even where the bytes it would count are there.
      Tlv(0x31,
          Tlv(0x30, Cat({RawTlv(0x06, {0x85}, kxtest::Filler(133)), Tlv(kPrintable, Text("x"))}))),
      Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, kCn), RawTlv(kPrintable, {0x04}, Text("abc"))}))),
      Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, kCn),
                               RawTlv(kPrintable, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}, Text("abc"))}))),
      Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, kCn), Bytes{kPrintable, 0x82, 0x00}}))),
      Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, kCn)}))),  // no value
  };
  for (const Bytes& b : bad) {
    CertNameInfo info;
    EXPECT_EQ(Parse(Cat({Rdn(kO, "Org"), b}), info), -2);
    EXPECT_EQ(Filled(info), (Texts{{"O", "Org"}}));
  }
}

// ---- The converters on their own ------------------------------------------------

TEST(NameConverters, BmpToAnsiUsesTheRoomGiven) {
  const std::uint8_t zhongGuo[] = {0x4E, 0x2D, 0x56, 0xFD};
  char out[8] = {};
  EXPECT_EQ(kx::cert::BmpToAnsi(kx::der::MakeReader(zhongGuo, 4), out, 6), 6u);
  EXPECT_EQ(std::string(out, 6), "\xE4\xB8\xAD\xE5\x9B\xBD");
  EXPECT_EQ(kx::cert::BmpToAnsi(kx::der::MakeReader(zhongGuo, 4), out, 5), 0u);
  EXPECT_EQ(kx::cert::BmpToAnsi(kx::der::MakeReader(zhongGuo, 0), out, 8), 0u);
}

TEST(NameConverters, Utf8ToAnsiIsWholeOrEmpty) {
  char out[8];
  std::memset(out, 'z', sizeof out);
  kx::cert::Utf8ToAnsi("abc", out, 4);
  EXPECT_STREQ(out, "abc");
  std::memset(out, 'z', sizeof out);
  kx::cert::Utf8ToAnsi("abc", out, 3);  // no room for the terminator
  EXPECT_STREQ(out, "");
  EXPECT_EQ(out[3], 'z');
  kx::cert::Utf8ToAnsi("", out, 4);
  EXPECT_STREQ(out, "");
}

// ---- Names that OpenSSL encodes --------------------------------------------------

struct NameFree {
  void operator()(X509_NAME* n) const { X509_NAME_free(n); }
};
using NamePtr = std::unique_ptr<X509_NAME, NameFree>;

// Walks OpenSSL's DER encoding of `name` (the contents of its SEQUENCE).
std::int32_t ParseOpenSsl(X509_NAME* name, CertNameInfo& info) {
  unsigned char* der = nullptr;
  const int size = i2d_X509_NAME(name, &der);
  if (size <= 0) {
    ADD_FAILURE() << "i2d_X509_NAME failed";
    return 1;
  }
  const Bytes bytes(der, der + size);
  OPENSSL_free(der);
  kx::der::Reader r = kx::der::MakeReader(bytes.data(), bytes.size());
  kx::der::Element seq{};
  EXPECT_TRUE(kx::der::ReadExpected(r, kx::der::kTagSequence, seq));
  return Parse(Bytes(seq.content.pos, seq.content.end), info);
}

void Add(X509_NAME* name, int nid, int type, const std::string& value) {
  ASSERT_EQ(X509_NAME_add_entry_by_NID(name, nid, type,
                                       reinterpret_cast<const unsigned char*>(value.data()),
                                       static_cast<int>(value.size()), -1, 0),
            1)
      << OBJ_nid2sn(nid);
}

TEST(NameOpenSsl, EveryAttributeMatchesGetTextByNid) {
  NamePtr name(X509_NAME_new());
  Add(name.get(), NID_countryName, MBSTRING_UTF8, "CN");
  Add(name.get(), NID_domainComponent, MBSTRING_UTF8, "com");
  Add(name.get(), NID_domainComponent, MBSTRING_UTF8, "example");
  for (const Attribute& a : kAttributes) {
    const bool ascii = a.nid == NID_pkcs9_emailAddress || a.nid == NID_serialNumber ||
                       a.nid == NID_telephoneNumber || a.nid == NID_postalCode;
    Add(name.get(), a.nid, MBSTRING_UTF8,
        ascii ? std::string("v-") + a.name : "\xE5\x8C\x97\xE4\xBA\xAC " + std::string(a.name));
  }
  CertNameInfo info;
  ASSERT_EQ(ParseOpenSsl(name.get(), info), 0);
  char expected[256];
  ASSERT_GT(X509_NAME_get_text_by_NID(name.get(), NID_countryName, expected, sizeof expected), 0);
  EXPECT_STREQ(info.country, expected);
  EXPECT_STREQ(info.domainComponent, "example.com");
  for (const Attribute& a : kAttributes) {
    ASSERT_GT(X509_NAME_get_text_by_NID(name.get(), a.nid, expected, sizeof expected), 0) << a.name;
    EXPECT_STREQ(info.*a.field, expected) << a.name;
  }
}

TEST(NameOpenSsl, BmpAndTeletexValuesMatchOpenSslsUtf8) {
  NamePtr name(X509_NAME_new());
  // U+4E2D U+6587 U+540D and U+00E9. (OpenSSL refuses to encode a name with surrogates.)
  Add(name.get(), NID_commonName, V_ASN1_BMPSTRING,
      std::string("\x4E\x2D\x65\x87\x54\x0D\x00\xE9", 8));
  Add(name.get(), NID_organizationName, V_ASN1_T61STRING, "Teletex Org");
  CertNameInfo info;
  ASSERT_EQ(ParseOpenSsl(name.get(), info), 0);
  for (int nid : {NID_commonName, NID_organizationName}) {
    const X509_NAME_ENTRY* e =
        X509_NAME_get_entry(name.get(), X509_NAME_get_index_by_NID(name.get(), nid, -1));
    unsigned char* utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(e));
    ASSERT_GT(n, 0);
    const std::string reference(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
    OPENSSL_free(utf8);
    EXPECT_EQ(nid == NID_commonName ? info.commonName : info.organization, reference);
  }
}

}  // namespace
