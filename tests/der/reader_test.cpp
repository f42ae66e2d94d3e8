// The bounded Reader: framing of one element in every length form, the
// refusal of anything that reaches past the view, and the rule that a
// failed call leaves the Reader exactly as it was.
#include "der/reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "support/tlv_builder.h"

namespace {

using kx::der::Element;
using kx::der::MakeReader;
using kx::der::Reader;
using kx::der::Remaining;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::Filler;
using kxtest::LengthForm;
using kxtest::RawTlv;
using kxtest::Tlv;

Reader View(const Bytes& b, std::size_t n) {
  return MakeReader(b.data(), n);
}
Reader View(const Bytes& b) {
  return View(b, b.size());
}

bool Same(const Reader& a, const Reader& b) {
  return a.pos == b.pos && a.end == b.end;
}

struct FormCase {
  LengthForm form;
  std::size_t contentLength;
  std::size_t headerSize;
};

// One element per length form, with contents on both sides of each form's
// limits. Quirk: 128 and 133 are the bytes 0x80 and 0x85, one-byte lengths.
const FormCase kForms[] = {
    {LengthForm::kShort, 0, 2},     {LengthForm::kShort, 127, 2},   {LengthForm::kLong1, 0, 3},
    {LengthForm::kLong1, 5, 3},     {LengthForm::kLong1, 255, 3},   {LengthForm::kLong2, 5, 4},
    {LengthForm::kLong2, 300, 4},   {LengthForm::kLong4, 0, 6},     {LengthForm::kLong4, 300, 6},
    {LengthForm::kOwnByte, 128, 2}, {LengthForm::kLong3, 70000, 5}, {LengthForm::kOwnByte, 133, 2},
    {LengthForm::kOwnByte, 255, 2},
};

// ---- Framing -------------------------------------------------------------------

TEST(ReadElement, EveryLengthForm) {
  for (const FormCase& c : kForms) {
    SCOPED_TRACE(testing::Message()
                 << "content " << c.contentLength << ", header " << c.headerSize);
    const Bytes content = Filler(c.contentLength);
    const Bytes der = Cat({Tlv(0x04, content, c.form), {0xEE}});
    Reader r = View(der);
    Element e{};
    ASSERT_TRUE(kx::der::ReadElement(r, e));
    EXPECT_EQ(e.tag, 0x04);
    EXPECT_TRUE(Same(e.whole, View(der, c.headerSize + c.contentLength)));
    EXPECT_EQ(e.content.pos, der.data() + c.headerSize);
    EXPECT_EQ(Bytes(e.content.pos, e.content.end), content);
    EXPECT_EQ(r.pos, e.whole.end);  // the next element starts right after
    EXPECT_EQ(Remaining(r), 1u);
  }
}

TEST(ReadElement, EveryTruncationFailsAndLeavesTheReaderUnchanged) {
  for (const FormCase& c : kForms) {
    const Bytes der = Tlv(0x30, Filler(c.contentLength), c.form);
    for (std::size_t cut = 0; cut < der.size(); ++cut) {
      SCOPED_TRACE(testing::Message() << "header " << c.headerSize << ", cut at " << cut);
      const Reader before = View(der, cut);
      Reader r = before;
      Element e{};
      EXPECT_FALSE(kx::der::ReadElement(r, e));
      EXPECT_TRUE(Same(r, before));
      EXPECT_FALSE(kx::der::ReadExpected(r, 0x30, e));
      EXPECT_TRUE(Same(r, before));
    }
  }
}

// A child whose length reaches past its parent is refused even though the
// bytes it claims are readable memory right after the parent.
TEST(ReadElement, RefusesContentPastTheParent) {
  const Bytes liar = RawTlv(0x04, {0x06}, Filler(5));  // declares 6, holds 5
  const Bytes huge = RawTlv(0x04, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}, Filler(5));
  for (const Bytes& child : {liar, huge}) {
    const Bytes der = Cat({Tlv(0x30, child), Filler(300)});
    Reader outer = View(der);
    Element parent{};
    ASSERT_TRUE(kx::der::ReadElement(outer, parent));
    const Reader before = parent.content;
    Reader inner = before;
    Element e{};
    EXPECT_FALSE(kx::der::ReadElement(inner, e));
    EXPECT_TRUE(Same(inner, before));
  }
}

TEST(ReadExpected, OtherTagLeavesTheReaderUnchanged) {
  const Bytes der = Tlv(0x02, {0x01});
  // The whole tag byte is compared: constructed or context forms of 2 are not 2.
  for (int tag : {0x03, 0x22, 0x82, 0xA2}) {
    const Bytes other = Tlv(static_cast<std::uint8_t>(tag), {0x01});
    const Reader before = View(other);
    Reader r = before;
    Element e{};
    EXPECT_FALSE(kx::der::ReadExpected(r, kx::der::kTagInteger, e));
    EXPECT_TRUE(Same(r, before));
  }
  Reader r = View(der);
  Element e{};
  EXPECT_TRUE(kx::der::ReadExpected(r, kx::der::kTagInteger, e));
}

// ---- Limits: the primitives at the end of the view ---------------------------

TEST(ReadLength, EveryTruncationFailsAndLeavesTheReaderUnchanged) {
  for (const Bytes& field : {Bytes{0x81, 0x80}, Bytes{0x82, 0x01, 0x00},
                             Bytes{0x83, 0x01, 0x00, 0x00}, Bytes{0x84, 0x00, 0x00, 0x01, 0x00}}) {
    for (std::size_t cut = 0; cut < field.size(); ++cut) {
      const Reader before = View(field, cut);
      Reader r = before;
      kx::der::LengthField length{};
      EXPECT_FALSE(kx::der::ReadLength(r, length));
      EXPECT_TRUE(Same(r, before));
    }
    Reader r = View(field);
    kx::der::LengthField length{};
    EXPECT_TRUE(kx::der::ReadLength(r, length));
    EXPECT_TRUE(kx::der::ExpectEnd(r));
  }
}

TEST(ReaderPrimitives, FailAtTheEndAndLeaveTheReaderUnchanged) {
  const Bytes data = Filler(4, 0x10);
  const Reader whole = View(data);
  Reader r = whole;
  Reader sub{};
  std::uint8_t b = 0;

  for (std::size_t n : {std::size_t{5}, std::numeric_limits<std::size_t>::max()}) {
    EXPECT_FALSE(kx::der::ReadBytes(r, n, sub));
    EXPECT_FALSE(kx::der::Skip(r, n));
    EXPECT_TRUE(Same(r, whole));
  }
  ASSERT_TRUE(kx::der::PeekByte(r, b));
  EXPECT_EQ(b, 0x10);
  EXPECT_TRUE(Same(r, whole));  // peeking does not consume
  ASSERT_TRUE(kx::der::Skip(r, 1));
  ASSERT_TRUE(kx::der::ReadBytes(r, 3, sub));  // exactly what remains
  EXPECT_TRUE(Same(sub, Reader{data.data() + 1, data.data() + 4}));
  EXPECT_TRUE(kx::der::ExpectEnd(r));

  const Reader empty = r;
  EXPECT_FALSE(kx::der::PeekByte(r, b));
  EXPECT_FALSE(kx::der::ReadBytes(r, 1, sub));
  EXPECT_FALSE(kx::der::Skip(r, 1));
  EXPECT_TRUE(Same(r, empty));
  EXPECT_TRUE(kx::der::Skip(r, 0));
}

}  // namespace
