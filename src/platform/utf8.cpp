#include "platform/utf8.h"

#include "platform/text.h"

namespace kx::platform {

Utf8Char DecodeUtf8(const unsigned char* text, std::size_t length) {
  const unsigned char lead = text[0];
  if (lead < 0x80) return {lead, 1, true};
  std::size_t need = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {kReplacementCharacter, 1, false};
  }
  std::size_t taken = 1;
  for (; taken <= need; ++taken) {
    if (taken == length) return {kReplacementCharacter, taken, false};
    const unsigned char b = text[taken];
    const bool inRange = taken == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
    if (!inRange) return {kReplacementCharacter, taken, false};
    cp = (cp << 6) | (b & 0x3Fu);
  }
  return {cp, taken, true};
}

bool IsWellFormedUtf8(const char* text, std::size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < length;) {
    if (bytes[i] < 0x80) {  // ASCII stands for itself
      ++i;
      continue;
    }
    const Utf8Char c = DecodeUtf8(bytes + i, length - i);
    if (!c.valid) return false;
    i += c.size;
  }
  return true;
}

}  // namespace kx::platform
