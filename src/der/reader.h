// The bounded cursor every walker in the library reads through.
//
// A Reader is a view [pos, end) of input bytes. Every read either succeeds
// and advances the view, or fails, returns false and leaves the view as it
// was. Checks compare a length with Remaining(), never pos + n with end, so
// they cannot wrap on a 32-bit build.
#ifndef KESTRIX_DER_READER_H
#define KESTRIX_DER_READER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "der/length.h"

// The element reads below sit in every walker's inner loop: always inlined,
// so that a walker's size never turns them into calls.
#if defined(__GNUC__)
#define KX_HOT_INLINE inline __attribute__((always_inline))
#else
#define KX_HOT_INLINE inline
#endif

namespace kx::der {

// Tag bytes the walkers test for.
inline constexpr std::uint8_t kTagInteger = 0x02;
inline constexpr std::uint8_t kTagBitString = 0x03;
inline constexpr std::uint8_t kTagOctetString = 0x04;
inline constexpr std::uint8_t kTagNull = 0x05;
inline constexpr std::uint8_t kTagOid = 0x06;
inline constexpr std::uint8_t kTagUtf8String = 0x0C;
inline constexpr std::uint8_t kTagTeletexString = 0x14;
inline constexpr std::uint8_t kTagBmpString = 0x1E;
inline constexpr std::uint8_t kTagSequence = 0x30;
inline constexpr std::uint8_t kTagSet = 0x31;

struct Reader {
  const std::uint8_t* pos;
  const std::uint8_t* end;
};

// A length field as read by ReadLength: its size in bytes (1 to 5) and
// the content length it declares.
struct LengthField {
  std::uint32_t size;
  std::uint32_t contentLength;
};

// One element: its tag, the whole encoding (tag, length field and content)
// and the content alone.
struct Element {
  std::uint8_t tag;
  Reader whole;
  Reader content;
};

inline std::size_t Remaining(const Reader& r) {
  return static_cast<std::size_t>(r.end - r.pos);
}

// A view of the n bytes at p. The caller guarantees they are readable.
inline Reader MakeReader(const std::uint8_t* p, std::size_t n) {
  return Reader{p, p + n};
}

// A view of n bytes at p that the library's caller vouches for: used only by
// the exports whose argument lists carry no size.
inline Reader Vouched(const std::uint8_t* p, std::size_t n) {
  return MakeReader(p, n);
}

// The element at `element`, which the library's caller vouches for: a view
// of the size its header declares.
Reader VouchedElement(const std::uint8_t* element);

// Reads one byte.
[[nodiscard]] inline bool ReadByte(Reader& r, std::uint8_t& out) {
  if (r.pos == r.end) return false;
  out = *r.pos++;
  return true;
}

// Looks at the next byte without consuming it.
[[nodiscard]] inline bool PeekByte(const Reader& r, std::uint8_t& out) {
  if (r.pos == r.end) return false;
  out = *r.pos;
  return true;
}

// Reads a one-byte tag (multi-byte tag numbers are not recognised).
[[nodiscard]] inline bool ReadTag(Reader& r, std::uint8_t& tag) {
  return ReadByte(r, tag);
}

// Takes the next n bytes as a sub-view; fails if fewer remain.
[[nodiscard]] inline bool ReadBytes(Reader& r, std::size_t n, Reader& out) {
  if (n > Remaining(r)) return false;
  out = Reader{r.pos, r.pos + n};
  r.pos += n;
  return true;
}

// Takes a view of the next n bytes without consuming them.
[[nodiscard]] inline bool PeekBytes(const Reader& r, std::size_t n, Reader& out) {
  if (n > Remaining(r)) return false;
  out = Reader{r.pos, r.pos + n};
  return true;
}

// Steps over the next n bytes; fails if fewer remain.
[[nodiscard]] inline bool Skip(Reader& r, std::size_t n) {
  if (n > Remaining(r)) return false;
  r.pos += n;
  return true;
}

// True when nothing is left in the view.
[[nodiscard]] inline bool ExpectEnd(const Reader& r) {
  return r.pos == r.end;
}

// Reads a big-endian number of n bytes (n <= 8) into out.
[[nodiscard]] inline bool ReadBigEndian(Reader& r, std::size_t n, std::uint64_t& out) {
  if (n > 8 || n > Remaining(r)) return false;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | r.pos[i];
  r.pos += n;
  out = v;
  return true;
}

// The big-endian number the view's bytes form, modulo 2^32: only the last
// four bytes count; 0 for an empty view.
[[nodiscard]] inline std::uint32_t BigEndianLow32(Reader r) {
  std::uint32_t v = 0;
  std::uint8_t b = 0;
  while (ReadByte(r, b)) v = (v << 8) | b;
  return v;
}

// True when the view holds exactly the n bytes at `expected`.
[[nodiscard]] inline bool Equals(const Reader& r, const std::uint8_t* expected, std::size_t n) {
  return Remaining(r) == n && (n == 0 || std::memcmp(r.pos, expected, n) == 0);
}

// Finds the first byte `b` in the view: its offset from pos.
[[nodiscard]] inline bool FindByte(const Reader& r, std::uint8_t b, std::size_t& offset) {
  const void* found = Remaining(r) == 0 ? nullptr : std::memchr(r.pos, b, Remaining(r));
  if (found == nullptr) return false;
  offset = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - r.pos);
  return true;
}

// How far into `whole` the view `at` (a view of the same bytes, or its end)
// starts.
inline std::size_t OffsetIn(const Reader& whole, const Reader& at) {
  return static_cast<std::size_t>(at.pos - whole.pos);
}

// Copies every byte of the view to dst, which must hold Remaining(r) bytes.
void CopyBytes(const Reader& r, std::uint8_t* dst);

// Reads a length field by the library's table of length forms (length.cpp).
[[nodiscard]] KX_HOT_INLINE bool ReadLength(Reader& r, LengthField& out) {
  Reader h = r;
  std::uint8_t first = 0;
  if (!ReadByte(h, first)) return false;
  const std::uint32_t size = LengthFieldSize(first);
  std::uint32_t length = first;
  if (size > 1) {
    std::uint64_t value = 0;
    if (!ReadBigEndian(h, size - 1, value)) return false;
    length = static_cast<std::uint32_t>(value);
  }
  out = LengthField{size, length};
  r = h;
  return true;
}

// Reads one element: tag, length field and a content that must lie inside r.
[[nodiscard]] KX_HOT_INLINE bool ReadElement(Reader& r, Element& out) {
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

// ReadElement, and the tag must be `tag`; on a different tag r is unchanged.
[[nodiscard]] KX_HOT_INLINE bool ReadExpected(Reader& r, std::uint8_t tag, Element& out) {
  std::uint8_t next = 0;
  if (!PeekByte(r, next) || next != tag) return false;
  return ReadElement(r, out);
}

}  // namespace kx::der

#endif  // KESTRIX_DER_READER_H
