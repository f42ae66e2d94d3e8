#include "der/length.h"

#include "der/reader.h"

namespace kx::der {

Header ReadVouchedHeader(const std::uint8_t* element) {
  Reader r = Vouched(element, 2);
  std::uint8_t tag = 0;
  std::uint8_t first = 0;
  (void)ReadTag(r, tag);
  (void)PeekByte(r, first);
  // The length field holds exactly the bytes its first byte declares, so
  // ReadLength on it cannot fail.
  Reader field = Vouched(r.pos, LengthFieldSize(first));
  LengthField length{1, 0};
  (void)ReadLength(field, length);
  return Header{tag, 1 + length.size, length.contentLength};
}

Reader VouchedElement(const std::uint8_t* element) {
  const Header h = ReadVouchedHeader(element);
  return Vouched(element, std::size_t{h.size} + h.contentLength);
}

}  // namespace kx::der
