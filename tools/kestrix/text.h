// Texts from the library, shown as they are: GetCertInfo writes them in the
// code page of the LC_CTYPE locale (the plain C/POSIX locale counting as
// UTF-8); main() adopts the user's locale, so the tool reads them in the code
// page the library wrote them in.
#ifndef KESTRIX_TOOLS_KESTRIX_TEXT_H
#define KESTRIX_TOOLS_KESTRIX_TEXT_H

#include <string>
#include <string_view>

namespace kx::tool {

// The text as a terminal may show it: control characters (C0, DEL, C1) and
// bytes that start no character as \xNN, a backslash as "\\".
std::string TerminalText(std::string_view text);

// The text in UTF-8, for JSON: each byte that starts no character becomes
// the character U+00XX of the byte.
std::string Utf8Text(std::string_view text);

// A document's UTF-8 text as a terminal may show it, in the locale's
// character set ("?" for a character it lacks): control characters as \xNN
// of their UTF-8 bytes, a backslash as "\\".
std::string DocumentText(std::string_view utf8);

std::string HexText(std::string_view bytes);

// Appends the UTF-8 bytes of the character `cp` (at most U+10FFFF).
void AppendUtf8Char(std::string& out, char32_t cp);

// The character a UTF-16 high surrogate and the unit after it make, or 0
// when they are not such a pair.
constexpr char32_t SurrogatePair(char32_t high, char32_t low) {
  return high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF
             ? 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00)
             : 0;
}

// Appends `cp` as UTF-8; U+FFFD for a lone surrogate or a value past U+10FFFF.
inline void AppendUtf8OrReplacement(std::string& out, char32_t cp) {
  AppendUtf8Char(out, cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : cp);
}

}  // namespace kx::tool

#endif
