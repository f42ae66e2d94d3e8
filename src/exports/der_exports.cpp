// getTVL and getcertlen: the caller vouches for the element, so the views
// below are built from its header rather than from a size argument.
#include "der/length.h"
#include "der/reader.h"
#include "kestrix.h"

using kx::der::Header;
using kx::der::Reader;

namespace {

// Bytes left out at the front of the value: one leading 0x00 of an INTEGER
// (the sign byte) or a BIT STRING (a zero unused-bits count), else none.
std::uint32_t DroppedPrefix(const Header& h, const std::uint8_t* content) {
  if (h.tag != kx::der::kTagInteger && h.tag != kx::der::kTagBitString) return 0;
  // Only the first content byte is looked at, so no view of the whole
  // content is formed before the caller asks for the bytes.
  const Reader first = kx::der::Vouched(content, h.contentLength == 0 ? 0 : 1);
  std::uint8_t b = 0;
  return kx::der::PeekByte(first, b) && b == 0x00 ? 1 : 0;
}

}  // namespace

extern "C" {

int32_t KESTRIX_CALL getcertlen(const unsigned char* element) {
  if (element == nullptr) return 0;
  const Header h = kx::der::ReadVouchedHeader(element);
  // Sizes are 32-bit: an absurd 0x84 length wraps instead of overflowing.
  return static_cast<int32_t>(h.size + h.contentLength);
}

int32_t KESTRIX_CALL getTVL(const unsigned char* element, unsigned char* valueOut,
                            int32_t* valueLen, int32_t* totalLen) {
  std::uint32_t value = 0;
  std::uint32_t total = 0;
  if (element != nullptr) {
    const Header h = kx::der::ReadVouchedHeader(element);
    const std::uint8_t* content = element + h.size;
    const std::uint32_t dropped = DroppedPrefix(h, content);
    total = h.size + h.contentLength;
    value = h.contentLength - dropped;
    if (valueOut != nullptr)
      kx::der::CopyBytes(kx::der::Vouched(content + dropped, value), valueOut);
  }
  if (valueLen != nullptr) *valueLen = static_cast<int32_t>(value);
  if (totalLen != nullptr) *totalLen = static_cast<int32_t>(total);
  return KX_OK;
}

}  // extern "C"
