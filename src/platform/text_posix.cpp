// Text conversion on POSIX systems, standing in for the Windows code-page
// conversion. The "ANSI code page" is the character set of the calling
// thread's LC_CTYPE locale; the plain C/POSIX locale counts as UTF-8. UTF-8
// is converted here, every other set through iconv. No global state: the
// locale is asked on every call and each conversion opens its own iconv_t.
// In WebAssembly the C library has UTF-8 alone (its C locale counts as UTF-8
// here), so iconv, with its tables of other sets, is left out.
#if defined(__EMSCRIPTEN__)
#define KX_TEXT_ICONV 0
#else
#define KX_TEXT_ICONV 1
#include <iconv.h>
#endif
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "platform/text.h"
#include "platform/utf8.h"

namespace kx::platform {
namespace {

// The character set of the calling thread's LC_CTYPE locale: nl_langinfo
// answers for the locale uselocale gave the thread, else the global one.
const char* ThreadCodeset() {
  return nl_langinfo(CODESET);
}

// UTF-8 itself, or the plain C/POSIX locale's ASCII, which counts as UTF-8.
bool IsUtf8Codeset(const char* codeset) {
  static constexpr const char* kUtf8Names[] = {
      "UTF-8", "UTF8", "ANSI_X3.4-1968", "ASCII", "US-ASCII", "646", ""};
  if (codeset == nullptr) return true;
  // The names glibc itself reports, exactly, before the case-blind search:
  // told apart by their first letter, as every certificate query asks.
  if (const char* glibcName = codeset[0] == 'U'   ? "UTF-8"
                              : codeset[0] == 'A' ? "ANSI_X3.4-1968"
                                                  : nullptr;
      glibcName != nullptr && std::strcmp(codeset, glibcName) == 0) {
    return true;
  }
  for (const char* name : kUtf8Names) {
    if (strcasecmp(codeset, name) == 0) return true;
  }
  return false;
}

// The next code point of `units` from index i, advancing i; an unpaired
// surrogate is U+FFFD.
char32_t NextCodePoint(const char16_t* units, std::size_t count, std::size_t& i) {
  const char16_t u = units[i++];
  if (u < 0xD800 || u > 0xDFFF) return u;
  if (u <= 0xDBFF && i < count && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
    const char16_t low = units[i++];
    return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00u);
  }
  return kReplacementCharacter;
}

// UTF-16 to UTF-8, all or nothing.
std::size_t WideToUtf8(const char16_t* units, std::size_t count, char* out, std::size_t capacity) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < count;) {
    const char32_t cp = NextCodePoint(units, count, i);
    unsigned char bytes[4];
    std::size_t n = 0;
    if (cp < 0x80) {
      bytes[n++] = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
      bytes[n++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      bytes[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      bytes[n++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      bytes[n++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
      bytes[n++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      bytes[n++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      bytes[n++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    if (n > capacity - used) return 0;
    for (std::size_t k = 0; k < n; ++k) out[used++] = static_cast<char>(bytes[k]);
  }
  return used;
}

#if KX_TEXT_ICONV
// The default character of every code page this layer serves (all of them
// are ASCII-compatible).
constexpr char kDefaultChar = '?';

// UTF-16 to `codeset` through iconv, all or nothing. The units go in as
// UTF-32LE in chunks; a character the set lacks becomes the default character.
std::size_t WideToCodeset(const char16_t* units, std::size_t count, char* out, std::size_t capacity,
                          const char* codeset) {
  const iconv_t cd = iconv_open(codeset, "UTF-32LE");
  if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return 0;
  char* outPos = out;
  std::size_t outLeft = capacity;
  bool ok = true;
  for (std::size_t i = 0; ok && i < count;) {
    char chunk[256];  // 64 characters
    std::size_t filled = 0;
    while (i < count && filled < sizeof chunk) {
      const char32_t cp = NextCodePoint(units, count, i);
      for (int shift = 0; shift < 32; shift += 8) {
        chunk[filled++] = static_cast<char>((cp >> shift) & 0xFF);
      }
    }
    char* inPos = chunk;
    std::size_t inLeft = filled;
    while (ok && inLeft > 0) {
      if (iconv(cd, &inPos, &inLeft, &outPos, &outLeft) != static_cast<std::size_t>(-1)) break;
      if (errno == EILSEQ && outLeft > 0) {  // a character the set cannot represent
        *outPos++ = kDefaultChar;
        --outLeft;
        inPos += 4;
        inLeft -= 4;
      } else {  // E2BIG: it does not fit (whole characters never leave EINVAL)
        ok = false;
      }
    }
  }
  // The closing shift sequence of a stateful set.
  if (ok && iconv(cd, nullptr, nullptr, &outPos, &outLeft) == static_cast<std::size_t>(-1)) {
    ok = false;
  }
  iconv_close(cd);
  return ok ? capacity - outLeft : 0;
}
#endif

}  // namespace

std::size_t WideToAnsi(const char16_t* units, std::size_t count, char* out, std::size_t capacity) {
  if (count == 0) return 0;
#if KX_TEXT_ICONV
  const char* codeset = ThreadCodeset();
  if (!IsUtf8Codeset(codeset)) return WideToCodeset(units, count, out, capacity, codeset);
#endif
  return WideToUtf8(units, count, out, capacity);
}

std::size_t Utf8ToWide(const char* utf8, std::size_t length, char16_t* out, std::size_t capacity) {
  const auto* text = reinterpret_cast<const unsigned char*>(utf8);
  std::size_t used = 0;
  for (std::size_t i = 0; i < length;) {
    const Utf8Char c = DecodeUtf8(text + i, length - i);
    i += c.size;
    const std::size_t n = c.codePoint >= 0x10000 ? 2 : 1;
    if (out != nullptr) {
      if (n > capacity - used) return 0;
      if (n == 2) {
        out[used] = static_cast<char16_t>(0xD800 + ((c.codePoint - 0x10000) >> 10));
        out[used + 1] = static_cast<char16_t>(0xDC00 + ((c.codePoint - 0x10000) & 0x3FF));
      } else {
        out[used] = static_cast<char16_t>(c.codePoint);
      }
    }
    used += n;
  }
  return used;
}

bool AnsiIsUtf8() {
  return IsUtf8Codeset(ThreadCodeset());
}

std::uint32_t SelfContainedCodePage() {
  constexpr std::uint32_t kUtf8CodePage = 65001;
  return AnsiIsUtf8() ? kUtf8CodePage : 0;
}

std::size_t AnsiPrefixLength(const char* text, std::size_t length, std::size_t limit) {
  if (length <= limit) return length;
  const bool utf8 = IsUtf8Codeset(ThreadCodeset());
  std::mbstate_t state{};
  std::size_t pos = 0;
  while (pos < limit) {
    std::size_t n = 1;  // an invalid sequence counts as one byte
    if (utf8) {
      const Utf8Char c =
          DecodeUtf8(reinterpret_cast<const unsigned char*>(text) + pos, length - pos);
      if (c.valid) n = c.size;
    } else {
      // mbrtowc reads with the calling thread's locale.
      wchar_t wc = 0;
      const std::size_t r = std::mbrtowc(&wc, text + pos, length - pos, &state);
      if (r == static_cast<std::size_t>(-1) || r == static_cast<std::size_t>(-2)) {
        state = std::mbstate_t{};
      } else if (r != 0) {
        n = r;
      }
    }
    if (n > limit - pos) break;
    pos += n;
  }
  return pos;
}

}  // namespace kx::platform
