#include "der/reader.h"

#include <cstring>

namespace kx::der {

void CopyBytes(const Reader& r, std::uint8_t* dst) {
  const std::size_t n = Remaining(r);
  if (n != 0) std::memcpy(dst, r.pos, n);
}

bool ReadElement(Reader& r, Element& out) {
  Reader h = r;
  std::uint8_t tag = 0;
  LengthField length{};
  Reader content{};
  if (!ReadTag(h, tag) || !ReadLength(h, length) || !ReadBytes(h, length.contentLength, content)) {
    return false;
  }
  out = Element{tag, Reader{r.pos, h.pos}, content};
  r = h;
  return true;
}

bool ReadExpected(Reader& r, std::uint8_t tag, Element& out) {
  std::uint8_t next = 0;
  if (!PeekByte(r, next) || next != tag) return false;
  return ReadElement(r, out);
}

}  // namespace kx::der
