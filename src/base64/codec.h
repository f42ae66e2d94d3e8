// Base64 (RFC 4648, standard alphabet, "=" padding) over bounded views. No
// armour and no line handling: the text side is one run of Base64 characters.
#ifndef KESTRIX_BASE64_CODEC_H
#define KESTRIX_BASE64_CODEC_H

#include <cstddef>
#include <cstdint>

#include "der/reader.h"

namespace kx::base64 {

inline constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr char kPad = '=';

// Characters that n bytes encode to: 4 per started group of 3 bytes.
constexpr std::size_t EncodedLength(std::size_t n) {
  return 4 * ((n + 2) / 3);
}

// Capacity a text of n characters needs: 3 per started group of 4
// characters, padding not subtracted.
constexpr std::size_t DecodeCapacity(std::size_t n) {
  return 3 * ((n + 3) / 4);
}

// Encodes every byte of `bytes` into `text`, which must hold
// EncodedLength(Remaining(bytes)) characters; writes exactly that many.
void Encode(der::Reader bytes, char* text);

// Decodes `text`, whose length must be a positive multiple of 4, into
// `bytes`, which must hold DecodeCapacity(Remaining(text)) bytes. The last
// group's form follows its last two characters: "x=" one byte, "=" two.
// On success writes the byte count to `written` and returns true; at the first
// group holding a character outside the alphabet returns false, with the
// bytes of the groups before it written and `written` untouched.
[[nodiscard]] bool Decode(der::Reader text, std::uint8_t* bytes, std::size_t& written);

}  // namespace kx::base64

#endif  // KESTRIX_BASE64_CODEC_H
