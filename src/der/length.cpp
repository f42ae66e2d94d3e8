#include "der/length.h"

#include "der/reader.h"

namespace kx::der {

std::int32_t GetLenSizeFromDER(const std::uint8_t* p) {
  Reader r = Vouched(p, 1);
  std::uint8_t first = 0;
  (void)PeekByte(r, first);
  return static_cast<std::int32_t>(LengthFieldSize(first));
}

namespace {

// The length field at p, in a view that holds exactly the bytes its first
// byte declares, so ReadLength on it cannot fail.
LengthField ReadVouchedLength(const std::uint8_t* p) {
  Reader r = Vouched(p, static_cast<std::size_t>(GetLenSizeFromDER(p)));
  LengthField length{1, 0};
  (void)ReadLength(r, length);
  return length;
}

}  // namespace

Header ReadVouchedHeader(const std::uint8_t* element) {
  Reader r = Vouched(element, 1);
  std::uint8_t tag = 0;
  (void)ReadTag(r, tag);
  const LengthField length = ReadVouchedLength(r.pos);
  return Header{tag, 1 + length.size, length.contentLength};
}

std::int32_t GetLenFromDER(const std::uint8_t* p, std::int32_t* lenSize, std::int32_t* contentLen) {
  const LengthField length = ReadVouchedLength(p);
  *lenSize = static_cast<std::int32_t>(length.size);
  *contentLen = static_cast<std::int32_t>(length.contentLength);
  return 0;
}

std::int32_t GetIntFromBytes(std::int32_t* value, const std::uint8_t* bytes,
                             const std::int32_t* count) {
  std::uint32_t v = 0;
  if (*count > 0) {
    Reader r = Vouched(bytes, static_cast<std::size_t>(*count));
    std::uint8_t b = 0;
    while (ReadByte(r, b)) v = (v << 8) | b;
  }
  *value = static_cast<std::int32_t>(v);
  return 0;
}

}  // namespace kx::der
