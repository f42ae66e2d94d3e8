// getTVL and getcertlen: the caller vouches for the element, so the views
// below are built from its header rather than from a size argument.
#include "der/length.h"
#include "kestrix.h"

using kx::der::Header;
using kx::der::Reader;

namespace {

// Value of an element: the content, less one leading 0x00 of an INTEGER (the
// sign byte) or a BIT STRING (a zero unused-bits count).
Reader ValueOf(std::uint8_t tag, Reader content) {
  std::uint8_t first = 0;
  if ((tag == kx::der::kTagInteger || tag == kx::der::kTagBitString) &&
      kx::der::PeekByte(content, first) && first == 0x00) {
    (void)kx::der::Skip(content, 1);
  }
  return content;
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
    total = h.size + h.contentLength;
    const Reader v = ValueOf(h.tag, kx::der::Vouched(element + h.size, h.contentLength));
    value = static_cast<std::uint32_t>(kx::der::Remaining(v));
    if (valueOut != nullptr) kx::der::CopyBytes(v, valueOut);
  }
  if (valueLen != nullptr) *valueLen = static_cast<int32_t>(value);
  if (totalLen != nullptr) *totalLen = static_cast<int32_t>(total);
  return KX_OK;
}

}  // extern "C"
