// What the fuzz targets share: the failing check, the fill pattern of output
// blocks, heap copies and the capacity prefix of the codec targets. Element
// headers are read with the tests' independent reader (support/der_header.h). Each
// target keeps its own input layout; nothing here reads one.
//
// Not for der_mutator.cpp: the mutator is built without coverage
// instrumentation, and these inline functions would be merged with the
// targets' instrumented copies.
#ifndef KESTRIX_FUZZ_FUZZ_SUPPORT_H
#define KESTRIX_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "support/der_header.h"
#include "support/openssl_base64.h"

namespace kxfuzz {

// The byte every output block is filled with before a call.
constexpr unsigned char kUntouched = 0xA5;

// A failed check names itself on standard error and aborts, which libFuzzer
// reports as a crash with the input.
inline void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

// True when every byte of block[from, to) still holds the fill pattern. One
// memcmp of the range against itself shifted by one byte: a byte loop here
// would be traced comparison by comparison and slow the fuzzer down.
inline bool AllUntouched(const void* block, std::size_t from, std::size_t to) {
  const auto* p = static_cast<const unsigned char*>(block);
  if (from >= to) return true;
  return p[from] == kUntouched && std::memcmp(p + from, p + from + 1, to - from - 1) == 0;
}

// n bytes in a heap block of exactly that size.
inline std::unique_ptr<std::uint8_t[]> HeapCopy(const std::uint8_t* data, std::size_t n) {
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[n]);
  if (n != 0) std::memcpy(block.get(), data, n);
  return block;
}

// ---- Element headers, read with the tests' independent reader ------------------

using kxtest::Declared;

// True when the element at p, header and content, lies in `avail` bytes.
inline bool Fits(const std::uint8_t* p, std::size_t avail, Declared& d) {
  const auto found = kxtest::ReadFitting(p, avail);
  if (found) d = *found;
  return found.has_value();
}

// ---- Base64 -------------------------------------------------------------------

// The output capacity a codec target's 4-byte prefix asks for. Read
// big-endian, the prefix is the capacity itself, negative and huge values
// included, unless its first byte is a selector relative to `needed`:
//   'E'  exactly `needed`;
//   'P'  `needed` plus the prefix's last byte;
//   'M'  `needed` less one less the prefix's last byte (too small).
inline std::int64_t CapacityFromPrefix(const std::uint8_t* prefix, std::int64_t needed) {
  switch (prefix[0]) {
    case 'E': return needed;
    case 'P': return needed + prefix[3];
    case 'M': return needed - 1 - prefix[3];
    default: {
      const std::uint32_t raw = static_cast<std::uint32_t>(prefix[0]) << 24 |
                                static_cast<std::uint32_t>(prefix[1]) << 16 |
                                static_cast<std::uint32_t>(prefix[2]) << 8 | prefix[3];
      return static_cast<std::int32_t>(raw);
    }
  }
}

// Sends standard output to /dev/null, for the targets whose exports print
// diagnostic lines that would flood the log (libFuzzer reports on standard
// error).
inline void DiscardStandardOutput() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::fprintf(stderr, "stdout kept\n");
}

}  // namespace kxfuzz

#endif  // KESTRIX_FUZZ_FUZZ_SUPPORT_H
