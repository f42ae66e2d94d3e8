// Base64 (RFC 4648, standard alphabet, "=" padding) over bounded views. No
// armour and no line handling: the text side is one run of Base64 characters.
#ifndef KESTRIX_BASE64_CODEC_H
#define KESTRIX_BASE64_CODEC_H

#include <cstddef>
#include <cstdint>

#include "der/fault.h"
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

// The largest text or byte count, and capacity, the limited forms below take.
inline constexpr std::size_t kMaxLength = 10000000;

// Encode within the library's limits: the byte count and the capacity must
// lie in 1..kMaxLength and the capacity hold EncodedLength of the bytes, else
// Fault::kLength and nothing is written. Writes the character count to
// `written`.
[[nodiscard]] Fault EncodeWithin(der::Reader bytes, char* text, std::size_t capacity,
                                 std::size_t& written);

// Decode within the library's limits: the text's length and the capacity must
// lie in 1..kMaxLength and the capacity hold DecodeCapacity of the text, else
// Fault::kLength and nothing is written; a length that is not a multiple of
// 4, or a character outside the alphabet, is Fault::kBase64 (as Decode).
[[nodiscard]] Fault DecodeWithin(der::Reader text, std::uint8_t* bytes, std::size_t capacity,
                                 std::size_t& written);

}  // namespace kx::base64

#endif  // KESTRIX_BASE64_CODEC_H
