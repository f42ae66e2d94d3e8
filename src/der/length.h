// Length fields: the one table of length forms every walker follows, and the
// header read for the exports whose callers vouch for their input.
#ifndef KESTRIX_DER_LENGTH_H
#define KESTRIX_DER_LENGTH_H

#include <cstdint>

namespace kx::der {

// Size of the length field that begins with `first`: 2 for 0x81, 3 for 0x82,
// 4 for 0x83, 5 for 0x84, 1 for every other byte.
// Quirk: 0x80 and 0x85..0xFF are one-byte lengths of their own value (128,
// 133..255); indefinite length and the long forms past four bytes do not exist.
constexpr std::uint32_t LengthFieldSize(std::uint8_t first) {
  switch (first) {
    case 0x81: return 2;
    case 0x82: return 3;
    case 0x83: return 4;
    case 0x84: return 5;
    default: return 1;
  }
}

// An element header read from a pointer the caller vouches for.
struct Header {
  std::uint8_t tag;
  std::uint32_t size;           // tag byte plus length field
  std::uint32_t contentLength;  // as the length field declares it
};

// Reads the tag and length field at `element` (reads 2 to 6 bytes).
Header ReadVouchedHeader(const std::uint8_t* element);

}  // namespace kx::der

#endif  // KESTRIX_DER_LENGTH_H
