// The one independent reader of DER element headers for the tests and the
// fuzz targets: it follows the length table the library documents (0x81,
// 0x82, 0x83 and 0x84 are followed by 1, 2, 3 and 4 length bytes; every other
// first byte is the content length itself) without using the library's own
// table, so that it can catch a fault in it.
#ifndef KESTRIX_TESTS_SUPPORT_DER_HEADER_H
#define KESTRIX_TESTS_SUPPORT_DER_HEADER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kxtest {

// The header size (tag and length field) that a first length byte declares.
constexpr std::size_t DeclaredHeaderSize(std::uint8_t firstLengthByte) {
  return firstLengthByte >= 0x81 && firstLengthByte <= 0x84 ? 2u + (firstLengthByte - 0x80u) : 2u;
}

// An element's header as the length table declares it.
struct Declared {
  std::uint8_t tag = 0;
  std::size_t header = 0;     // tag byte and length field
  std::uint64_t content = 0;  // declared content length
  std::uint64_t total() const { return header + content; }
};

// The header at p, from at most `avail` bytes; nothing when the header
// itself does not fit.
inline std::optional<Declared> ReadDeclared(const std::uint8_t* p, std::size_t avail) {
  if (avail < 2) return std::nullopt;
  const std::uint8_t first = p[1];
  const std::size_t header = DeclaredHeaderSize(first);
  if (avail < header) return std::nullopt;
  Declared d;
  d.tag = p[0];
  d.header = header;
  d.content = first;
  if (header > 2) {
    d.content = 0;
    for (std::size_t i = 2; i < header; ++i) d.content = d.content << 8 | p[i];
  }
  return d;
}

// The header at p when the whole element lies in `avail` bytes.
inline std::optional<Declared> ReadFitting(const std::uint8_t* p, std::size_t avail) {
  const auto d = ReadDeclared(p, avail);
  if (!d || d->content > avail - d->header) return std::nullopt;
  return d;
}

// The declared outer element of `bytes` when it lies inside them.
inline std::optional<std::vector<std::uint8_t>> DeclaredElement(
    const std::vector<std::uint8_t>& bytes) {
  const auto d = ReadFitting(bytes.data(), bytes.size());
  if (!d) return std::nullopt;
  return std::vector<std::uint8_t>(bytes.begin(),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(d->total()));
}

// Calls visit(offset, declared) for every element that lies inside `bytes`:
// the elements one after another from the start, and, down to `depth`
// levels, those inside constructed elements and inside OCTET STRINGs and
// BIT STRINGs (which often hold DER). Stops a level at its first element
// that does not fit.
template <typename Visit>
void ForEachElement(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to,
                    int depth, Visit&& visit) {
  std::size_t at = from;
  while (at < to) {
    const auto d = ReadFitting(bytes.data() + at, to - at);
    if (!d) return;
    visit(at, *d);
    const bool holdsDer = (d->tag & 0x20) != 0 || d->tag == 0x03 || d->tag == 0x04;
    if (depth > 0 && holdsDer) {
      const std::size_t content = at + d->header;
      // A BIT STRING's first content byte is its unused-bits count.
      const std::size_t skip = d->tag == 0x03 && d->content != 0 ? 1 : 0;
      ForEachElement(bytes, content + skip, content + static_cast<std::size_t>(d->content),
                     depth - 1, visit);
    }
    at += static_cast<std::size_t>(d->total());
  }
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_DER_HEADER_H
