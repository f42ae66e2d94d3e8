// UTF-8, read by the table of well-formed byte sequences.
#ifndef KESTRIX_PLATFORM_UTF8_H
#define KESTRIX_PLATFORM_UTF8_H

#include <cstddef>

namespace kx::platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// One character read from UTF-8: its code point (U+FFFD for an invalid
// sequence), the bytes it takes (a maximal invalid subpart is one
// replacement) and whether it was well formed.
struct Utf8Char {
  char32_t codePoint;
  std::size_t size;
  bool valid;
};

// Reads the character at text[0], `length` >= 1 bytes available.
Utf8Char DecodeUtf8(const unsigned char* text, std::size_t length);

}  // namespace kx::platform

#endif  // KESTRIX_PLATFORM_UTF8_H
