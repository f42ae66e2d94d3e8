// The POSIX stand-in for the Windows code-page conversion: UTF-8 output in
// the C locale (replacements, surrogates, all-or-nothing capacity), UTF-8
// input, and a double-byte set (GBK) through iconv when the system has it.
// Windows converts with its own API: code_page_table_test.cpp and
// tests/windows/code_page_test.cpp check it there.
#if !defined(_WIN32)

#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/locale_scope.h"

namespace {

using kx::platform::AnsiPrefixLength;
using kx::platform::Utf8ToWide;
using kx::platform::WideToAnsi;
using kxtest::ThreadLocale;

// WideToAnsi into a generous buffer; the bytes written, as a string.
std::string ToAnsi(const std::u16string& units, std::size_t capacity = 64) {
  std::vector<char> out(capacity + 1, '\x7E');
  const std::size_t n = WideToAnsi(units.data(), units.size(), out.data(), capacity);
  EXPECT_LE(n, capacity);
  EXPECT_EQ(out[capacity], '\x7E') << "written past the capacity";
  return std::string(out.data(), n);
}

std::u16string ToWide(const std::string& utf8) {
  std::u16string out(Utf8ToWide(utf8.data(), utf8.size(), nullptr, 0), u'\0');
  EXPECT_EQ(Utf8ToWide(utf8.data(), utf8.size(), out.data(), out.size()), out.size());
  return out;
}

// ---- UTF-8 as the code page (the C locale) ------------------------------------

TEST(PosixText, WideToUtf8InTheCLocale) {
  ThreadLocale c("C");
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(ToAnsi(u"AB"), "AB");
  EXPECT_EQ(ToAnsi(u"\u00E9"), "\xC3\xA9");
  EXPECT_EQ(ToAnsi(u"\u4E2D\u56FD"), "\xE4\xB8\xAD\xE5\x9B\xBD");
  EXPECT_EQ(ToAnsi(u"\U0001F600"), "\xF0\x9F\x98\x80");  // a surrogate pair
  // Unpaired surrogates: a lone high one (at the end and before a letter), a lone low one.
  EXPECT_EQ(ToAnsi(std::u16string{u'a', char16_t(0xD83D)}), "a\xEF\xBF\xBD");
  EXPECT_EQ(ToAnsi(std::u16string{char16_t(0xD83D), u'b'}),
            "\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(ToAnsi(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(PosixText, OutputThatDoesNotFitGivesZero) {
  ThreadLocale c("C");
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(ToAnsi(u"\u4E2D\u56FD", 6), "\xE4\xB8\xAD\xE5\x9B\xBD");
  EXPECT_EQ(ToAnsi(u"\u4E2D\u56FD", 5), "");  // not the first character alone
  EXPECT_EQ(ToAnsi(u"abc", 2), "");
  EXPECT_EQ(ToAnsi(u"\U0001F600", 3), "");
}

TEST(PosixText, Utf8ToWide) {
  EXPECT_EQ(ToWide("a\xE4\xB8\xAD"), u"a\u4E2D");
  EXPECT_EQ(ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
  // Each maximal invalid subpart is one U+FFFD: a stray continuation byte, a
  // truncated sequence, an overlong form, an encoded surrogate, a byte never used.
  EXPECT_EQ(ToWide("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(ToWide("\xE4\xB8z"), u"\uFFFDz");
  EXPECT_EQ(ToWide("\xE4\xB8"), u"\uFFFD");
  EXPECT_EQ(ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(ToWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(ToWide("\xFF"), u"\uFFFD");
  // Too little room: nothing, not a prefix.
  char16_t out[2] = {};
  EXPECT_EQ(Utf8ToWide("abc", 3, out, 2), 0u);
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80", 4, out, 1), 0u);
}

TEST(PosixText, InvalidUtf8RoundTripsAsReplacement) {
  ThreadLocale c("C");
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(ToAnsi(ToWide("x\xC3")), "x\xEF\xBF\xBD");
}

TEST(PosixText, Utf8PrefixNeverEndsInsideACharacter) {
  ThreadLocale c("C");
  ASSERT_TRUE(c.ok());
  const std::string text =
      "a\xE4\xB8\xAD\xF0\x9F\x98\x80"
      "b";  // 1 + 3 + 4 + 1 bytes
  const std::size_t expected[] = {0, 1, 1, 1, 4, 4, 4, 4, 8, 9};
  for (std::size_t limit = 0; limit <= text.size(); ++limit) {
    EXPECT_EQ(AnsiPrefixLength(text.data(), text.size(), limit), expected[limit])
        << "limit " << limit;
  }
  // Bytes that are no UTF-8 count one each.
  EXPECT_EQ(AnsiPrefixLength("\x80\x80\x80\x80", 4, 2), 2u);
}

// ---- A double-byte code page (GBK) ---------------------------------------------

class GbkText : public testing::Test {
 protected:
  void SetUp() override {
    if (!gbk_.ok()) GTEST_SKIP() << "no zh_CN.GBK locale (scripts/setup.sh creates it)";
  }
  ThreadLocale gbk_{"zh_CN.GBK"};
};

TEST_F(GbkText, WideToGbk) {
  EXPECT_EQ(ToAnsi(u"\u4E2D\u56FD"), "\xD6\xD0\xB9\xFA");
  EXPECT_EQ(ToAnsi(u"A\u4E2D"), "A\xD6\xD0");
  // Characters GBK lacks become the default character, one each.
  EXPECT_EQ(ToAnsi(u"\u0E01x"), "?x");                       // Thai
  EXPECT_EQ(ToAnsi(u"\U0001F600\u4E2D"), "?\xD6\xD0");       // an emoji (a surrogate pair)
  EXPECT_EQ(ToAnsi(std::u16string{char16_t(0xDC00)}), "?");  // unpaired, as U+FFFD
  // All or nothing, counted in GBK bytes.
  EXPECT_EQ(ToAnsi(u"\u4E2D\u56FD", 4), "\xD6\xD0\xB9\xFA");
  EXPECT_EQ(ToAnsi(u"\u4E2D\u56FD", 3), "");
  EXPECT_EQ(ToAnsi(u"\u0E01\u0E01", 1), "");
  // Longer than one iconv chunk.
  const std::u16string many(300, u'\u4E2D');
  std::string expected;
  for (int i = 0; i < 300; ++i) expected += "\xD6\xD0";
  EXPECT_EQ(ToAnsi(many, 600), expected);
}

TEST_F(GbkText, PrefixNeverSplitsADoubleByteCharacter) {
  const std::string text =
      "A\xD6\xD0\xB9\xFA"
      "B\xD6\xD0";  // A 中 国 B 中
  const std::size_t expected[] = {0, 1, 1, 3, 3, 5, 6, 6, 8};
  for (std::size_t limit = 0; limit <= text.size(); ++limit) {
    EXPECT_EQ(AnsiPrefixLength(text.data(), text.size(), limit), expected[limit])
        << "limit " << limit;
  }
  // A lead byte with no valid trail counts as one byte.
  EXPECT_EQ(AnsiPrefixLength("\x81"
                             "\x20"
                             "ab",
                             4, 2),
            2u);
}

}  // namespace

#endif  // !defined(_WIN32)
