// Text conversion into the process's ANSI code page. On Windows this is the
// system's own conversion (CP_UTF8 in, CP_ACP out, no flags, no default
// character override); elsewhere a layer of our own stands in for it, with
// the character set of the calling thread's LC_CTYPE locale as the code page
// (the C/POSIX locale counts as UTF-8).
#ifndef KESTRIX_PLATFORM_TEXT_H
#define KESTRIX_PLATFORM_TEXT_H

#include <cstddef>
#include <cstdint>

namespace kx::platform {

// Converts `count` UTF-16 units to the ANSI code page into `out` (room for
// `capacity` bytes), without a terminator. A character the code page cannot
// represent becomes its default character ("?"); an unpaired surrogate is
// converted as U+FFFD first. Returns the bytes written, 0 when the result
// does not fit or the conversion fails.
std::size_t WideToAnsi(const char16_t* units, std::size_t count, char* out, std::size_t capacity);

// Converts `length` bytes of UTF-8 to UTF-16 units into `out` (room for
// `capacity` units); an invalid sequence becomes U+FFFD. Returns the units
// written, 0 when they do not fit. With `out` null, returns the units needed.
std::size_t Utf8ToWide(const char* utf8, std::size_t length, char16_t* out, std::size_t capacity);

// Length of the longest prefix of the `length` bytes of ANSI text at `text`
// that has at most `limit` bytes and does not end inside a character.
std::size_t AnsiPrefixLength(const char* text, std::size_t length, std::size_t limit);

// True when the ANSI code page is UTF-8 (the C/POSIX locale included).
[[nodiscard]] bool AnsiIsUtf8();

// The code page of the calling thread's conversions, when converting into it
// needs nothing that can run out (no memory, no converter to open), so that
// the same input always converts alike: on Windows the ANSI code page, on
// POSIX 65001 for UTF-8 (the C/POSIX locale included). 0 for a POSIX
// character set reached through iconv.
[[nodiscard]] std::uint32_t SelfContainedCodePage();

// True when the `length` bytes at `text` are well-formed UTF-8 (no overlong
// forms, no surrogates, nothing above U+10FFFF).
[[nodiscard]] bool IsWellFormedUtf8(const char* text, std::size_t length);

}  // namespace kx::platform

#endif  // KESTRIX_PLATFORM_TEXT_H
