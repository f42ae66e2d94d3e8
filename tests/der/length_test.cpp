// The length-field table, as the vouched header read and the bounded
// ReadLength see it. The inputs sit in exactly sized heap blocks, so the
// sanitizer build catches any read past the length field.
#include "der/length.h"
#include "der/reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/tlv_builder.h"

namespace {

using kxtest::Bytes;

// ---- Values: the length table, every first byte -----------------------------

// Every first byte, followed by the bytes F2 34 56 78 where the form uses them
// (all bits count, none sign-extends; the four-byte form then reads as a
// negative int32). The vouched pair and the bounded ReadLength must agree.
TEST(LengthTable, EveryFirstByte) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const auto first = static_cast<std::uint8_t>(b);
    // Quirk: 0x80 and 0x85..0xFF are one-byte lengths of their own value.
    std::int32_t size = 1;
    std::uint32_t content = first;
    if (first == 0x81) {
      size = 2;
      content = 0xF2;
    } else if (first == 0x82) {
      size = 3;
      content = 0xF234;
    } else if (first == 0x83) {
      size = 4;
      content = 0xF23456;
    } else if (first == 0x84) {
      size = 5;
      content = 0xF2345678;
    }
    const Bytes full{first, 0xF2, 0x34, 0x56, 0x78};
    const Bytes field(full.begin(), full.begin() + size);

    const Bytes header = kxtest::Cat({{0x04}, field});
    const kx::der::Header h = kx::der::ReadVouchedHeader(header.data());
    EXPECT_EQ(h.size, static_cast<std::uint32_t>(1 + size));
    EXPECT_EQ(h.contentLength, content);

    kx::der::Reader r = kx::der::MakeReader(full.data(), full.size());
    kx::der::LengthField length{};
    ASSERT_TRUE(kx::der::ReadLength(r, length));
    EXPECT_EQ(length.size, static_cast<std::uint32_t>(size));
    EXPECT_EQ(length.contentLength, content);
    EXPECT_EQ(r.pos, full.data() + size);
  }
}

// ---- BigEndianLow32 ----------------------------------------------------------

TEST(BigEndianLow32, Values) {
  struct Case {
    Bytes bytes;
    std::uint32_t value;
  } cases[] = {
      {{}, 0},
      {{0x01, 0x02}, 258},
      {{0xFF}, 255},  // bytes are unsigned: no sign extension
      {{0x00, 0x00, 0x01}, 1},
      {{0x80, 0x00, 0x00, 0x00}, 0x80000000u},
      {{0x12, 0x34, 0x56, 0x78, 0x9A}, 878082202},  // only the last four bytes count
      {{0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kx::der::BigEndianLow32(kx::der::MakeReader(c.bytes.data(), c.bytes.size())),
              c.value);
  }
}

}  // namespace
