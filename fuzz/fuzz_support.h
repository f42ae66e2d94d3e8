// What the fuzz targets share: the failing check, the fill pattern of output
// blocks, heap copies, the outer element header read with the length table,
// and the plain Base64 encoder the codec targets compare against. Each
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

namespace kxfuzz {

// The byte every output block is filled with before a call.
constexpr unsigned char kUntouched = 0xA5;
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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

// ---- Element headers, read with the length table ------------------------------

// An element header as the length table declares it: 0x81, 0x82, 0x83 and 0x84
// are followed by 1, 2, 3 and 4 length bytes; every other first byte is the
// content length itself.
struct Declared {
  std::uint8_t tag;
  std::size_t headerSize;  // tag byte plus length field
  std::uint64_t contentLength;
};

// Reads the header at p from at most `avail` bytes; false when the header
// itself does not fit.
inline bool ReadDeclared(const std::uint8_t* p, std::size_t avail, Declared& d) {
  if (avail < 2) return false;
  const std::uint8_t first = p[1];
  const std::size_t extra = first == 0x81   ? 1
                            : first == 0x82 ? 2
                            : first == 0x83 ? 3
                            : first == 0x84 ? 4
                                            : 0;
  if (avail < 2 + extra) return false;
  std::uint64_t length = first;
  if (extra != 0) {
    length = 0;
    for (std::size_t i = 0; i < extra; ++i) length = length << 8 | p[2 + i];
  }
  d = Declared{p[0], 2 + extra, length};
  return true;
}

// True when the element at p, header and content, lies in `avail` bytes.
inline bool Fits(const std::uint8_t* p, std::size_t avail, Declared& d) {
  return ReadDeclared(p, avail, d) && d.contentLength <= avail - d.headerSize;
}

// ---- Base64 -------------------------------------------------------------------

// Three bytes at a time into four characters, then the rest with "=".
inline std::string ReferenceEncode(const std::uint8_t* in, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; i += 3) {
    const std::size_t left = n - i;
    const std::uint32_t bits = static_cast<std::uint32_t>(in[i]) << 16 |
                               (left > 1 ? static_cast<std::uint32_t>(in[i + 1]) << 8 : 0u) |
                               (left > 2 ? in[i + 2] : 0u);
    text += kBase64Alphabet[bits >> 18 & 63];
    text += kBase64Alphabet[bits >> 12 & 63];
    text += left > 1 ? kBase64Alphabet[bits >> 6 & 63] : '=';
    text += left > 2 ? kBase64Alphabet[bits & 63] : '=';
  }
  return text;
}

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
