// Fuzzes the element operations: the bounded reader over arbitrary bytes, and
// getTVL, getcertlen and the length-field operations on each element it
// reads.
//
// The length table is re-derived in fuzz_support.h on purpose, as an
// independent check of the one in der/length.cpp: 0x81, 0x82, 0x83 and 0x84 are
// followed by 1, 2, 3 and 4 length bytes, every other first byte is the length
// itself.
//
// getTVL and getcertlen receive no size: they are only called on elements
// whose declared extent lies inside the input, each copied into an exactly
// sized heap block, so the sanitizer reports the first byte read past the
// element and the first byte written past the value.
//
// Inputs are mutated as DER trees (der_mutator.h).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "der/length.h"
#include "der/reader.h"
#include "der_mutator.h"
#include "fuzz_support.h"
#include "kestrix.h"

namespace {

using kxfuzz::Declared;
using kxfuzz::Fits;
using kxfuzz::HeapCopy;
using kxfuzz::Require;

// The exports and length operations on one element whose declared extent is
// exactly the `total` bytes at `element`.
void CheckVouched(const std::uint8_t* element, std::size_t total, const Declared& d) {
  const auto block = HeapCopy(element, total);
  const auto expectedTotal = static_cast<std::int32_t>(total);
  Require(getcertlen(block.get()) == expectedTotal, "getcertlen gives header plus content");

  const std::uint8_t* content = element + d.header;
  const auto contentLength = static_cast<std::size_t>(d.content);
  const bool dropped = (d.tag == 0x02 || d.tag == 0x03) && contentLength != 0 && content[0] == 0;
  const std::size_t skip = dropped ? 1 : 0;
  const std::size_t valueSize = contentLength - skip;

  std::int32_t valueLen = -1;
  std::int32_t totalLen = -1;
  Require(getTVL(block.get(), nullptr, &valueLen, &totalLen) == KX_OK, "getTVL returns 0");
  Require(totalLen == expectedTotal, "getTVL total is header plus content");
  Require(valueLen == static_cast<std::int32_t>(valueSize),
          "value is the content, less a leading zero of an INTEGER or BIT STRING");

  const auto value = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[valueSize]);
  valueLen = -1;
  totalLen = -1;
  Require(getTVL(block.get(), value.get(), &valueLen, &totalLen) == KX_OK, "getTVL returns 0");
  Require(valueLen == static_cast<std::int32_t>(valueSize) && totalLen == expectedTotal,
          "lengths do not depend on the destination");
  Require(valueSize == 0 || std::memcmp(value.get(), content + skip, valueSize) == 0,
          "value bytes are the content's");

  // The header alone, in a block of its own size.
  const auto header = HeapCopy(element, d.header);
  const kx::der::Header h = kx::der::ReadVouchedHeader(header.get());
  Require(h.size == d.header && h.contentLength == static_cast<std::uint32_t>(d.content),
          "the vouched header read follows the length table");
}

bool SameView(const kx::der::Reader& a, const kx::der::Reader& b) {
  return a.pos == b.pos && a.end == b.end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = HeapCopy(data, size);
  const std::uint8_t* const begin = input.get();
  const std::uint8_t* const end = begin + size;

  kx::der::Reader r = kx::der::MakeReader(begin, size);
  for (;;) {
    const kx::der::Reader before = r;
    const std::size_t avail = kx::der::Remaining(r);
    Declared d{};
    const bool fits = Fits(r.pos, avail, d);

    // A different tag is refused without a move.
    kx::der::Element e{};
    if (avail != 0) {
      const auto other = static_cast<std::uint8_t>(r.pos[0] ^ 0x01);
      Require(!kx::der::ReadExpected(r, other, e) && SameView(r, before),
              "ReadExpected refuses another tag and stays put");
    }

    if (!kx::der::ReadElement(r, e)) {
      Require(!fits, "ReadElement reads every element that fits");
      Require(SameView(r, before), "a failed ReadElement leaves the reader unchanged");
      break;
    }
    Require(fits, "ReadElement reads only elements that fit");
    const std::size_t total = d.header + static_cast<std::size_t>(d.content);
    Require(e.tag == d.tag, "element tag is the first byte");
    Require(e.whole.pos == before.pos && e.whole.end == before.pos + total,
            "whole view is header plus declared content");
    Require(e.content.pos == before.pos + d.header && e.content.end == e.whole.end,
            "content view follows the header");
    Require(e.whole.end <= end && e.content.pos <= e.content.end, "views lie inside the input");
    Require(r.pos == e.whole.end && r.end == end, "reader moves to the next element");

    CheckVouched(before.pos, total, d);
  }
  return 0;
}

KXFUZZ_DER_MUTATION((kxfuzz::Layout{0, kxfuzz::Payload::kDer}))
