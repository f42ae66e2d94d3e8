#include "text.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cwchar>

#if !defined(_WIN32)
#include <langinfo.h>
#endif

namespace kx::tool {
namespace {

#if defined(_WIN32)
// True when the library's texts are UTF-8: never, they are in the ANSI code
// page, read as the C runtime's locale.
bool TextsAreUtf8() {
  return false;
}
#else
bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// True when the library's texts are UTF-8: a UTF-8 locale, or the C/POSIX one.
// Asked once: main() sets the locale before any text is read.
bool TextsAreUtf8() {
  static const bool utf8 = [] {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr) return true;
    for (std::string_view name :
         {"UTF-8", "UTF8", "ANSI_X3.4-1968", "ASCII", "US-ASCII", "646", ""}) {
      if (EqualsIgnoringCase(codeset, name)) return true;
    }
    return false;
  }();
  return utf8;
}
#endif

// One character of a text: its code point, and the bytes it takes. An
// invalid sequence is `valid` false, its bytes those that start no character.
struct TextChar {
  char32_t codePoint;
  std::size_t size;
  bool valid;
};

// Reads the UTF-8 character at text[0] (left >= 1): no overlong form, no
// surrogate, nothing above U+10FFFF; an invalid sequence ends at the first
// byte that cannot continue it.
TextChar NextUtf8Char(const unsigned char* text, std::size_t left) {
  const unsigned char lead = text[0];
  if (lead < 0x80) return {lead, 1, true};
  const std::size_t need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  if (lead < 0xC2 || lead > 0xF4) return {0, 1, false};
  // The range of the second byte, narrowed where the lead allows less.
  const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  char32_t cp = lead & (0x3Fu >> need);
  for (std::size_t taken = 1; taken <= need; ++taken) {
    if (taken == left) return {0, taken, false};
    const unsigned char b = text[taken];
    if (b < (taken == 1 ? low : 0x80) || b > (taken == 1 ? high : 0xBF)) return {0, taken, false};
    cp = (cp << 6) | (b & 0x3Fu);
  }
  return {cp, need + 1, true};
}

// Reads the character at text[0] (left >= 1) in the locale's multibyte set.
// Where wchar_t is not a code point, only ASCII is read as characters.
TextChar NextLocaleChar(const unsigned char* text, std::size_t left, std::mbstate_t& state) {
#if defined(__STDC_ISO_10646__)
  wchar_t wide = 0;
  const std::size_t n = std::mbrtowc(&wide, reinterpret_cast<const char*>(text), left, &state);
  if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
    state = std::mbstate_t{};
    return {0, 1, false};
  }
  if (n == 0) return {0, 1, true};  // a zero byte inside the text
  return {static_cast<char32_t>(wide), n, true};
#else
  (void)left;
  (void)state;
  return text[0] < 0x80 ? TextChar{text[0], 1, true} : TextChar{0, 1, false};
#endif
}

// Calls visit(character, its bytes) for each character of `text`.
template <typename Visit>
void ForEachChar(std::string_view text, Visit visit) {
  const bool utf8 = TextsAreUtf8();
  std::mbstate_t state{};
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t left = text.size() - at;
    const TextChar c =
        utf8 ? NextUtf8Char(bytes + at, left) : NextLocaleChar(bytes + at, left, state);
    visit(c, text.substr(at, c.size));
    at += c.size;
  }
}

void AppendByteEscape(std::string& out, std::string_view prefix, unsigned char byte) {
  constexpr char kDigits[] = "0123456789abcdef";
  out += prefix;
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

}  // namespace

std::string TerminalText(std::string_view text) {
  std::string out;
  ForEachChar(text, [&out](const TextChar& c, std::string_view bytes) {
    const char32_t cp = c.codePoint;
    if (c.valid && cp == U'\\') {
      out += "\\\\";
    } else if (c.valid && cp >= 0x20 && cp != 0x7F && (cp < 0x80 || cp > 0x9F)) {
      out += bytes;
    } else {
      for (char b : bytes) AppendByteEscape(out, "\\x", static_cast<unsigned char>(b));
    }
  });
  return out;
}

void AppendUtf8Char(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf8Text(std::string_view text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return c > 0; })) {
    return std::string(text);  // ASCII, the same in every code page the library writes
  }
  std::string out;
  out.reserve(text.size());
  ForEachChar(text, [&out](const TextChar& c, std::string_view bytes) {
    const char32_t cp = c.codePoint;
    if (c.valid && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
      AppendUtf8Char(out, cp);
    } else {
      for (char b : bytes) AppendUtf8Char(out, static_cast<unsigned char>(b));
    }
  });
  return out;
}

std::string DocumentText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const bool inUtf8 = TextsAreUtf8();
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  std::mbstate_t state{};
  for (std::size_t at = 0; at < utf8.size();) {
    const TextChar c = NextUtf8Char(bytes + at, utf8.size() - at);
    const std::string_view sequence = utf8.substr(at, c.size);
    at += c.size;
    const char32_t cp = c.codePoint;
    if (cp == U'\\') {
      out += "\\\\";
    } else if (!c.valid || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) {
      for (char b : sequence) AppendByteEscape(out, "\\x", static_cast<unsigned char>(b));
    } else if (inUtf8 || cp < 0x80) {
      out += sequence;
    } else {
      // Another character set: the character as the locale writes it, "?"
      // where it has none.
      char local[MB_LEN_MAX];
      const std::size_t n = cp <= WCHAR_MAX ? std::wcrtomb(local, static_cast<wchar_t>(cp), &state)
                                            : static_cast<std::size_t>(-1);
      if (n == static_cast<std::size_t>(-1)) {
        state = std::mbstate_t{};
        out += '?';
      } else {
        out.append(local, n);
      }
    }
  }
  return out;
}

std::string HexText(std::string_view bytes) {
  std::string out;
  out.reserve(2 * bytes.size());
  for (char b : bytes) AppendByteEscape(out, "", static_cast<unsigned char>(b));
  return out;
}

}  // namespace kx::tool
