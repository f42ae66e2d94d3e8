#include "der/reader.h"

#include <cstring>

namespace kx::der {

bool Equals(const Reader& r, const std::uint8_t* expected, std::size_t n) {
  return Remaining(r) == n && (n == 0 || std::memcmp(r.pos, expected, n) == 0);
}

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

bool ReadShortForm(Reader& r, Element& out) {
  Reader h = r;
  std::uint8_t tag = 0;
  std::uint8_t length = 0;
  Reader content{};
  if (!ReadTag(h, tag) || !ReadByte(h, length) || length >= 0x80 ||
      !ReadBytes(h, length, content)) {
    return false;
  }
  out = Element{tag, Reader{r.pos, h.pos}, content};
  r = h;
  return true;
}

}  // namespace kx::der
