// Text outputs in the process's ANSI code page on Windows, where the system
// converts: the sample certificates and request with Chinese and Latin-1
// names, names built here, and the two name converters. Each test expects
// the bytes of code page 936 (GBK) or 1252, whichever this run has
// (GetACP()); scripts/check-win64.sh runs the program under both.
#if defined(_WIN32)

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cert/name.h"
#include "cert/records.h"
#include "kestrix.h"
#include "support/hex.h"
#include "support/tlv_builder.h"

namespace {

using kxtest::Bytes;
using kxtest::Cat;
using kxtest::Hex;
using kxtest::Tlv;

class CodePageText : public testing::Test {
 protected:
  void SetUp() override {
    if (page_ != 936 && page_ != 1252) {
      GTEST_SKIP() << "expectations for code pages 936 and 1252 only, this run has " << page_;
    }
  }
  // The expected bytes in this run's code page.
  std::string Pick(const std::string& gbk, const std::string& cp1252) const {
    return page_ == 936 ? gbk : cp1252;
  }
  const UINT page_ = GetACP();
};

// The run has the code page its caller meant (scripts/check-win64.sh sets
// KESTRIX_EXPECT_CODE_PAGE; Wine takes the code page from LANG).
TEST(CodePageRun, IsTheOneExpected) {
  const char* expected = std::getenv("KESTRIX_EXPECT_CODE_PAGE");
  if (expected == nullptr) GTEST_SKIP() << "KESTRIX_EXPECT_CODE_PAGE is not set";
  EXPECT_EQ(std::to_string(GetACP()), expected);
}

Bytes ReadSample(const std::string& name) {
  std::ifstream file(std::string(KESTRIX_SAMPLES_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(file) << name;
  return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// A text item of `cert` through the export; its length must match the text.
std::string Item(const Bytes& cert, std::uint32_t item) {
  std::int32_t num = 0, len = -1;
  char out[KX_ITEM_BUFFER_SIZE];
  std::memset(out, 0x7E, sizeof out);
  EXPECT_EQ(GetCertInfo(static_cast<std::int32_t>(cert.size()), cert.data(), item, &num, &len, out),
            KX_OK)
      << "item " << item;
  EXPECT_EQ(len, static_cast<std::int32_t>(strnlen(out, sizeof out))) << "item " << item;
  return std::string(out, strnlen(out, sizeof out));
}

const std::string kZhongGuoCeShi = "\xD6\xD0\xB9\xFA \xB2\xE2\xCA\xD4";  // "中国 测试" in GBK

// ---- The samples ------------------------------------------------------------------

TEST_F(CodePageText, Utf8CjkCertificate) {
  const Bytes cert = ReadSample("certs/utf8-cjk.der");
  EXPECT_EQ(Hex(Item(cert, KX_ITEM_SUBJECT_COMMON_NAME)), Hex(Pick(kZhongGuoCeShi, "?? ??")));
  EXPECT_EQ(Hex(Item(cert, KX_ITEM_SUBJECT_STATE_OR_PROVINCE)),
            Hex(Pick("\xB1\xB1\xBE\xA9", "??")));  // 北京
  EXPECT_EQ(Hex(Item(cert, KX_ITEM_SUBJECT_ORGANIZATION)),
            Hex(Pick("\xB2\xE2\xCA\xD4\xBB\xFA\xB9\xB9", "????")));  // 测试机构
  EXPECT_EQ(Item(cert, KX_ITEM_SUBJECT_COUNTRY), "CN");
}

// BMPStrings "Kestrix Mägde" and "Ünïcödé 测试". GBK has ü and é but not ä,
// ï, ö or Ü; Windows' best-fit table gives ü for Ü.
TEST_F(CodePageText, BmpCertificate) {
  const Bytes cert = ReadSample("certs/bmp.der");
  EXPECT_EQ(Hex(Item(cert, KX_ITEM_SUBJECT_ORGANIZATION)),
            Hex(Pick("Kestrix M?gde", "Kestrix M\xE4gde")));
  EXPECT_EQ(Hex(Item(cert, KX_ITEM_SUBJECT_COMMON_NAME)),
            Hex(Pick("\xA8\xB9n?c?d\xA8\xA6 \xB2\xE2\xCA\xD4",
                     "\xDCn\xEF"
                     "c\xF6"
                     "d\xE9 ??")));
}

TEST_F(CodePageText, CjkRequest) {
  const Bytes pem = ReadSample("requests/ed25519-cjk.pem");
  P10RequestInfo info;
  std::memset(&info, 0, sizeof info);
  ASSERT_EQ(RC_decodep10pemtxt(reinterpret_cast<const char*>(pem.data()),
                               static_cast<std::int32_t>(pem.size()), &info),
            KX_OK);
  EXPECT_EQ(Hex(info.commonName), Hex(Pick(kZhongGuoCeShi + " \xC7\xEB\xC7\xF3", "?? ?? ??")));
  EXPECT_EQ(Hex(info.organization), Hex(Pick("\xB2\xE2\xCA\xD4\xBB\xFA\xB9\xB9", "????")));
  EXPECT_STREQ(info.country, "CN");
}

// ---- Names built here ---------------------------------------------------------------

constexpr std::uint8_t kUtf8 = 0x0C;
constexpr std::uint8_t kTeletex = 0x14;
constexpr std::uint8_t kBmp = 0x1E;
constexpr std::uint8_t kUniversal = 0x1C;
const Bytes kCn = {0x55, 0x04, 0x03};

Bytes Rdn(std::uint8_t tag, const Bytes& value) {
  return Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, kCn), Tlv(tag, value)})));
}

std::string CommonName(const Bytes& name) {
  kx::cert::CertNameInfo info;
  std::memset(&info, 0xA5, sizeof info);
  EXPECT_TRUE(kx::cert::GetNameInfoFromDER(kx::der::MakeReader(name.data(), name.size()), info));
  return std::string(info.commonName, strnlen(info.commonName, sizeof info.commonName));
}

TEST_F(CodePageText, StringTypes) {
  const struct {
    const char* what;
    std::uint8_t tag;
    Bytes value;
    std::string gbk, cp1252;
  } cases[] = {
      {"UTF8String, Latin-1",
       kUtf8,
       {'M', 0xC3, 0xBC, 'l', 'l', 'e', 'r'},
       "M\xA8\xB9ller",
       "M\xFCller"},
      {"TeletexString, read as UTF-8", kTeletex, {'M', 0xC3, 0xBC}, "M\xA8\xB9", "M\xFC"},
      {"BMPString, Latin-1", kBmp, {0x00, 'M', 0x00, 0xFC}, "M\xA8\xB9", "M\xFC"},
      {"BMPString, CJK", kBmp, {0x4E, 0x2D, 0x56, 0xFD}, "\xD6\xD0\xB9\xFA", "??"},
      {"BMPString, unpaired surrogate", kBmp, {0xD8, 0x3D, 0x00, 0x41}, "?A", "?A"},
      {"UTF8String, invalid byte", kUtf8, {0x61, 0xFF}, "a?", "a?"},
      {"UniversalString, CJK",
       kUniversal,
       {0, 0, 0x4E, 0x2D, 0, 0, 0x56, 0xFD, 0},
       "\xD6\xD0\xB9\xFA",
       "??"},
      // Converted as an unpaired surrogate is.
      {"UniversalString, a surrogate and U+110000",
       kUniversal,
       {0, 0, 0xD8, 0x3D, 0, 0x11, 0, 0, 0, 0, 0, 'A'},
       "??A",
       "??A"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(CommonName(Rdn(c.tag, c.value))), Hex(Pick(c.gbk, c.cp1252))) << c.what;
  }
}

// "AA" and many times U+4E2D, more than the field holds in any string type:
// cut to the field's 255 bytes in GBK would end inside a character, so 254
// are kept; in 1252 each is one "?". The UTF-8 value is longer than the part
// of it the walker converts.
TEST_F(CodePageText, CjkTextIsCutAtACharacterBoundary) {
  Bytes bmp = {0x00, 'A', 0x00, 'A'}, universal = {0, 0, 0, 'A', 0, 0, 0, 'A'}, utf8 = {'A', 'A'};
  for (int i = 0; i < 400; ++i) {
    bmp.insert(bmp.end(), {0x4E, 0x2D});
    universal.insert(universal.end(), {0, 0, 0x4E, 0x2D});
    utf8.insert(utf8.end(), {0xE4, 0xB8, 0xAD});
  }
  std::string gbk = "AA";
  for (int i = 0; i < 126; ++i) gbk += "\xD6\xD0";
  for (const auto& [tag, value] : {std::pair{kBmp, bmp}, {kUniversal, universal}, {kUtf8, utf8}}) {
    EXPECT_EQ(Hex(CommonName(Rdn(tag, value))), Hex(Pick(gbk, "AA" + std::string(253, '?'))))
        << "tag " << int{tag};
  }
}

// ---- The converters -----------------------------------------------------------------

TEST_F(CodePageText, BmpToAnsiUsesTheRoomOfTheValue) {
  const std::uint8_t zhongGuo[] = {0x4E, 0x2D, 0x56, 0xFD};
  char out[8] = {};
  const kx::der::Reader value = kx::der::MakeReader(zhongGuo, 4);
  const std::size_t n = kx::cert::BmpToAnsi(value, out, 4);
  EXPECT_EQ(Hex(std::string(out, n)), Hex(Pick("\xD6\xD0\xB9\xFA", "??")));
  EXPECT_EQ(kx::cert::BmpToAnsi(value, out, 3), page_ == 936 ? 0u : 2u);
}

TEST_F(CodePageText, Utf8ToAnsiIsWholeOrEmpty) {
  const char* zhongGuo = "\xE4\xB8\xAD\xE5\x9B\xBD";
  const std::size_t whole = page_ == 936 ? 5 : 3;  // the text and its terminator
  char out[8];
  std::memset(out, 'z', sizeof out);
  kx::cert::Utf8ToAnsi(zhongGuo, out, whole);
  EXPECT_EQ(Hex(out), Hex(Pick("\xD6\xD0\xB9\xFA", "??")));
  std::memset(out, 'z', sizeof out);
  kx::cert::Utf8ToAnsi(zhongGuo, out, whole - 1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(out[whole - 1], 'z');
}

}  // namespace

#endif  // defined(_WIN32)
