// The length-field table and the pointer-only length operations. The inputs
// sit in exactly sized heap blocks, so the sanitizer build catches any read
// past the length field.
#include "der/length.h"
#include "der/reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/tlv_builder.h"

namespace {

using kx::der::GetIntFromBytes;
using kx::der::GetLenFromDER;
using kx::der::GetLenSizeFromDER;
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

    EXPECT_EQ(GetLenSizeFromDER(field.data()), size);
    std::int32_t gotSize = -1;
    std::int32_t gotContent = -1;
    EXPECT_EQ(GetLenFromDER(field.data(), &gotSize, &gotContent), 0);
    EXPECT_EQ(gotSize, size);
    EXPECT_EQ(gotContent, static_cast<std::int32_t>(content));

    kx::der::Reader r = kx::der::MakeReader(full.data(), full.size());
    kx::der::LengthField length{};
    ASSERT_TRUE(kx::der::ReadLength(r, length));
    EXPECT_EQ(length.size, static_cast<std::uint32_t>(size));
    EXPECT_EQ(length.contentLength, content);
    EXPECT_EQ(r.pos, full.data() + size);
  }
}

// ---- GetIntFromBytes ---------------------------------------------------------

TEST(GetIntFromBytes, Values) {
  struct Case {
    Bytes bytes;
    std::int32_t value;
  } cases[] = {
      {{0x01, 0x02}, 258},
      {{0xFF}, 255},  // bytes are unsigned: no sign extension
      {{0x00, 0x00, 0x01}, 1},
      {{0x7F, 0xFF, 0xFF, 0xFF}, 0x7FFFFFFF},
      {{0x80, 0x00, 0x00, 0x00}, INT32_MIN},        // the bit pattern, stored signed
      {{0x12, 0x34, 0x56, 0x78, 0x9A}, 878082202},  // only the last four bytes count
      {{0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01}, 1},
  };
  for (const Case& c : cases) {
    const std::int32_t count = static_cast<std::int32_t>(c.bytes.size());
    std::int32_t value = -7;
    EXPECT_EQ(GetIntFromBytes(&value, c.bytes.data(), &count), 0);
    EXPECT_EQ(value, c.value);
  }
}

TEST(GetIntFromBytes, CountZeroOrLessGivesZero) {
  const Bytes bytes{0x12, 0x34};
  for (std::int32_t count : {0, -1, INT32_MIN}) {
    std::int32_t value = -7;
    EXPECT_EQ(GetIntFromBytes(&value, bytes.data(), &count), 0);
    EXPECT_EQ(value, 0);
  }
}

}  // namespace
