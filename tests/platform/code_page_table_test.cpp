// One table of text conversions into the two code pages the library meets
// most, GBK (936) and Windows-1252, run on every system: on Windows through
// the system's own conversion while that code page is the process's ANSI
// code page, elsewhere through the stand-in layer under a locale of that
// character set. Both expect the same bytes, except in the rows of the
// tables of differences, which give each side's answer and the reason.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/hex.h"
#include "support/locale_scope.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using kx::platform::AnsiPrefixLength;
using kx::platform::Utf8ToWide;
using kx::platform::WideToAnsi;
using kxtest::Hex;

#if defined(_WIN32)
constexpr bool kWindows = true;

// The process's code page is fixed at start (Wine takes it from LANG): each
// code page has a run of its own, and the other page's rows are skipped.
class CodePage {
 public:
  explicit CodePage(unsigned page) : page_(page) {}
  std::string Unavailable() const {
    const UINT active = GetACP();
    if (active == page_) return {};
    return "the ANSI code page of this run is " + std::to_string(active) + ", not " +
           std::to_string(page_);
  }

 private:
  unsigned page_;
};
#else
constexpr bool kWindows = false;

// Makes a locale with the code page's character set current for the test
// thread, and restores the previous one.
class CodePage {
 public:
  explicit CodePage(unsigned page)
      : page_(page),
        locale_(page == 936
                    ? kxtest::ThreadLocale{"zh_CN.GBK", "zh_CN.gbk"}
                    : kxtest::ThreadLocale{"en_US.CP1252", "de_DE.CP1252", "fr_FR.CP1252"}) {}
  std::string Unavailable() const {
    if (locale_.ok()) return {};
    return page_ == 936 ? "no zh_CN.GBK locale (scripts/setup.sh creates it)"
                        : "no locale with the CP1252 character set "
                          "(localedef -i en_US -f CP1252 en_US.CP1252 creates one)";
  }

 private:
  unsigned page_;
  kxtest::ThreadLocale locale_;
};
#endif

// The bytes WideToAnsi writes for `units` with room for `capacity`; empty
// when it gives 0.
std::string Ansi(const std::u16string& units, std::size_t capacity) {
  std::vector<char> out(capacity + 1, '\x7E');
  const std::size_t n = WideToAnsi(units.data(), units.size(), out.data(), capacity);
  EXPECT_LE(n, capacity);
  EXPECT_EQ(out[capacity], '\x7E') << "written past the capacity";
  return std::string(out.data(), n);
}

// UTF-8 to the code page as the name converter does it: to UTF-16 units
// first, then to the code page.
std::string AnsiFromUtf8(const std::string& utf8, std::size_t capacity) {
  std::u16string units(Utf8ToWide(utf8.data(), utf8.size(), nullptr, 0), u'\0');
  EXPECT_EQ(Utf8ToWide(utf8.data(), utf8.size(), units.data(), units.size()), units.size());
  return Ansi(units, capacity);
}

// One input and the bytes it gives in each code page.
struct Row {
  const char* what;
  std::u16string units;  // UTF-16 input; with `utf8` set, ignored
  std::string utf8;      // UTF-8 input, converted to UTF-16 first
  std::size_t capacity;
  std::string gbk;
  std::string cp1252;
};

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

const Row kSame[] = {
    // ASCII and Latin-1.
    {"ASCII", u"AB", "", 64, "AB", "AB"},
    {"Latin-1 text", u"M\u00FCller", "", 64, "M\xA8\xB9ller", "M\xFCller"},
    {"Latin-1 text as UTF-8", u"", "M\xC3\xBCller", 64, "M\xA8\xB9ller", "M\xFCller"},
    {"e acute", u"\u00E9", "", 64, "\xA8\xA6", "\xE9"},
    {"Latin-1 letter GBK lacks", u"\u00F6x", "", 64, "?x", "\xF6x"},
    {"middle dot", u"\u00B7", "", 64, "\xA1\xA4", "\xB7"},
    // Beyond Latin-1: both code pages have these.
    {"euro sign", u"\u20AC", "", 64, "\x80", "\x80"},
    {"en dash", u"\u2013", "", 64, "\xA8\x43", "\x96"},
    // CJK.
    {"CJK", u"\u4E2D\u56FD", "", 64, "\xD6\xD0\xB9\xFA", "??"},
    {"ASCII then CJK", u"A\u4E2D", "", 64, "A\xD6\xD0", "A?"},
    {"CJK as UTF-8", u"", "\xE4\xB8\xAD\xE5\x9B\xBD \xE6\xB5\x8B\xE8\xAF\x95", 64,
     "\xD6\xD0\xB9\xFA \xB2\xE2\xCA\xD4", "?? ??"},
    {"300 CJK characters, more than one chunk", std::u16string(300, u'\u4E2D'), "", 600,
     Repeat("\xD6\xD0", 300), std::string(300, '?')},
    // Characters neither code page has: the default character, one each.
    {"Thai", u"\u0E01x", "", 64, "?x", "?x"},
    {"U+FFFD", u"\uFFFD", "", 64, "?", "?"},
    // Unpaired surrogates, converted as U+FFFD.
    {"lone high surrogate at the end", std::u16string{u'a', char16_t(0xD83D)}, "", 64, "a?", "a?"},
    {"lone high surrogate before a letter", std::u16string{char16_t(0xD83D), u'b'}, "", 64, "?b",
     "?b"},
    {"lone low surrogate", std::u16string{char16_t(0xDE00)}, "", 64, "?", "?"},
    // Invalid UTF-8 where both decoders give one U+FFFD per bad sequence.
    {"stray continuation byte", u"", "a\x80z", 64, "a?z", "a?z"},
    {"truncated sequence", u"", "\xE4\xB8z", 64, "?z", "?z"},
    {"truncated at the end", u"", "x\xC3", 64, "x?", "x?"},
    {"truncated four-byte sequence", u"", "\xF0\x9F\x98", 64, "?", "?"},
    {"overlong two-byte form", u"", "\xC0\xAF", 64, "??", "??"},
    {"byte never used", u"", "\xFF", 64, "?", "?"},
    {"five-byte form", u"", "\xF8\x88\x80\x80\x80", 64, "?????", "?????"},
    // Output that does not fit: nothing at all, never a prefix.
    {"CJK in exactly its room", u"\u4E2D\u56FD", "", 4, "\xD6\xD0\xB9\xFA", "??"},
    {"CJK one byte short in GBK", u"\u4E2D\u56FD", "", 3, "", "??"},
    {"CJK in half its GBK room", u"\u4E2D\u56FD", "", 2, "", "??"},
    {"CJK, room for one byte", u"\u4E2D\u56FD", "", 1, "", ""},
    {"ASCII one byte short", u"abc", "", 2, "", ""},
    {"default characters one byte short", u"\u0E01\u0E01", "", 1, "", ""},
};

// Where the system's conversion and the stand-in legitimately differ.
struct Difference {
  const char* what;
  unsigned page;
  std::u16string units;
  std::string utf8;
  std::string posix;
  std::string windows;
  const char* why;
};

const char* const kBestFit =
    "WideCharToMultiByte without WC_NO_BEST_FIT_CHARS maps some characters the code page "
    "lacks to a look-alike; the stand-in maps exactly (iconv) and gives the default character";
const char* const kPairs =
    "WideCharToMultiByte into a code page without the character gives one default character "
    "for each UTF-16 unit; the stand-in converts the surrogate pair as one character";
const char* const kSubparts =
    "the stand-in's decoder gives one U+FFFD for each maximal invalid subpart (Unicode's "
    "recommended practice); Wine's MultiByteToWideChar gives fewer (seen under Wine 8.0)";

const Difference kDifferences[] = {
    {"U with diaeresis", 936, u"\u00DC", "", "?", "\xA8\xB9", kBestFit},
    {"A with macron", 936, u"\u0100", "", "?", "\xA8\xA1", kBestFit},
    {"A with macron", 1252, u"\u0100", "", "?", "A", kBestFit},
    {"L with stroke", 1252, u"\u0141", "", "?", "L", kBestFit},
    {"fullwidth A", 1252, u"\uFF21", "", "?", "A", kBestFit},
    {"katakana middle dot", 1252, u"\u30FB", "", "?", "\xB7", kBestFit},
    {"emoji (a surrogate pair)", 936, u"\U0001F600\u4E2D", "", "?\xD6\xD0", "??\xD6\xD0", kPairs},
    {"emoji (a surrogate pair)", 1252, u"x\U0001F600", "", "x?", "x??", kPairs},
    {"emoji as UTF-8", 936, u"", "\xF0\x9F\x98\x80", "?", "??", kPairs},
    {"encoded surrogate", 936, u"", "\xED\xA0\x80", "???", "??", kSubparts},
    {"encoded surrogate", 1252, u"", "\xED\xA0\x80", "???", "??", kSubparts},
    {"above U+10FFFF", 1252, u"", "\xF4\x90\x80\x80", "????", "???", kSubparts},
    {"overlong three-byte form", 1252, u"", "\xE0\x80\x80", "???", "??", kSubparts},
};

std::string Convert(const std::u16string& units, const std::string& utf8, std::size_t capacity) {
  return utf8.empty() ? Ansi(units, capacity) : AnsiFromUtf8(utf8, capacity);
}

class CodePageTable : public testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    const std::string why = page_.Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
  }
  CodePage page_{GetParam()};
};

TEST_P(CodePageTable, SameBytesOnEverySystem) {
  EXPECT_FALSE(kx::platform::AnsiIsUtf8());
  for (const Row& row : kSame) {
    const std::string& expected = GetParam() == 936 ? row.gbk : row.cp1252;
    EXPECT_EQ(Hex(Convert(row.units, row.utf8, row.capacity)), Hex(expected)) << row.what;
  }
}

TEST_P(CodePageTable, DifferencesBetweenTheSystemAndTheStandIn) {
  int rows = 0;
  for (const Difference& d : kDifferences) {
    if (d.page != GetParam()) continue;
    ++rows;
    EXPECT_EQ(Hex(Convert(d.units, d.utf8, 64)), Hex(kWindows ? d.windows : d.posix))
        << d.what << ": " << d.why;
  }
  EXPECT_GT(rows, 0);
}

// Cutting text of the code page at a limit never splits a character.
TEST_P(CodePageTable, PrefixNeverSplitsACharacter) {
  const std::string text =
      "A\xD6\xD0\xB9\xFA"
      "B\xD6\xD0";  // A, two GBK characters, B, one more
  const std::size_t gbk[] = {0, 1, 1, 3, 3, 5, 6, 6, 8};
  for (std::size_t limit = 0; limit <= text.size(); ++limit) {
    const std::size_t expected = GetParam() == 936 ? gbk[limit] : limit;  // 1252: one byte each
    EXPECT_EQ(AnsiPrefixLength(text.data(), text.size(), limit), expected) << "limit " << limit;
  }
  // In 1252 the unassigned bytes 0x81, 0x8D and 0x90 count one each; in GBK
  // 0x81 0x8D is one character.
  EXPECT_EQ(AnsiPrefixLength("\x81\x8D\x90", 3, 1), GetParam() == 936 ? 0u : 1u);
}

// A GBK lead byte followed by a byte that cannot end a character: the
// stand-in counts the lead byte alone (it is no character), Windows always
// takes a lead byte and the byte after it together (IsDBCSLeadByteEx).
TEST(CodePageGbk, LeadByteWithABadTrail) {
  const CodePage gbk(936);
  if (const std::string why = gbk.Unavailable(); !why.empty()) GTEST_SKIP() << why;
  EXPECT_EQ(AnsiPrefixLength("\x81 ab", 4, 1), kWindows ? 0u : 1u);
  EXPECT_EQ(AnsiPrefixLength("\x81 ab", 4, 2), 2u);
}

std::string PageName(const testing::TestParamInfo<unsigned>& page) {
  return page.param == 936 ? "Gbk936" : "Windows1252";
}
INSTANTIATE_TEST_SUITE_P(CodePages, CodePageTable, testing::Values(936u, 1252u), PageName);

}  // namespace
