// Fuzzes DerToPem and EncodePEMBlock with capacities and lengths taken from
// the input, against a plain byte-by-byte encoder.
//
// Input layout:
//   bytes 0..3  the capacity, as fuzz_base64_decode reads it: big-endian
//               (negative and huge values included), unless the first byte
//               is a selector relative to the capacity the bytes need
//               (4 per started group of 3):
//                 'E'  exactly that capacity;
//                 'P'  that capacity plus the prefix's last byte;
//                 'M'  that capacity less one less the prefix's last byte;
//   byte 4      the length argument: 0xFF passes 0, 0xFE passes -1, 0xFD
//               the most negative value; any other value the bytes' count;
//   bytes 5..   the bytes to encode.
// A length that is not the bytes' count is one that claims no readable byte
// (zero or negative): the call must refuse it without reading.
//
// The bytes and the output are exactly sized heap blocks, so the sanitizer
// reports the first byte read or written past either; the output is filled
// with a pattern, so a write the call may not make shows too.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kestrix.h"

namespace {

constexpr std::size_t kPrefixSize = 5;
constexpr std::int64_t kBlockCap = std::int64_t{1} << 16;
constexpr unsigned char kUntouched = 0xA5;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

bool AllUntouched(const char* p, std::size_t from, std::size_t to) {
  if (from >= to) return true;
  return static_cast<unsigned char>(p[from]) == kUntouched &&
         std::memcmp(p + from, p + from + 1, to - from - 1) == 0;
}

std::string ReferenceEncode(const std::uint8_t* in, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; i += 3) {
    const std::size_t left = n - i;
    const std::uint32_t bits = static_cast<std::uint32_t>(in[i]) << 16 |
                               (left > 1 ? static_cast<std::uint32_t>(in[i + 1]) << 8 : 0u) |
                               (left > 2 ? in[i + 2] : 0u);
    text += kAlphabet[bits >> 18 & 63];
    text += kAlphabet[bits >> 12 & 63];
    text += left > 1 ? kAlphabet[bits >> 6 & 63] : '=';
    text += left > 2 ? kAlphabet[bits & 63] : '=';
  }
  return text;
}

std::int64_t ChooseCapacity(const std::uint8_t* prefix, std::int64_t needed) {
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

std::int32_t ChooseLength(std::uint8_t selector, std::size_t count) {
  switch (selector) {
    case 0xFF: return 0;
    case 0xFE: return -1;
    case 0xFD: return INT32_MIN;
    default: return static_cast<std::int32_t>(count);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kPrefixSize) return 0;
  const std::size_t count = size - kPrefixSize;
  const std::unique_ptr<unsigned char[]> bytes(new unsigned char[count]);
  if (count != 0) std::memcpy(bytes.get(), data + kPrefixSize, count);
  const std::int32_t derLen = ChooseLength(data[4], count);
  const auto needed = static_cast<std::int64_t>(4 * ((count + 2) / 3));
  const std::int64_t capacity = ChooseCapacity(data, needed);

  // The output block: the capacity itself up to a cap; for a capacity the
  // codec must refuse above its limit, the size the bytes need.
  std::size_t blockSize = 0;
  std::int64_t passed = capacity;
  if (capacity > KX_BASE64_MAX_LENGTH) {
    blockSize = static_cast<std::size_t>(needed);
  } else if (capacity > 0) {
    passed = std::min(capacity, kBlockCap);
    blockSize = static_cast<std::size_t>(passed);
  }
  const auto capacityIn = static_cast<std::int32_t>(passed);
  const bool accepted = derLen >= 1 && derLen <= KX_BASE64_MAX_LENGTH && passed >= 1 &&
                        passed <= KX_BASE64_MAX_LENGTH && passed >= needed;
  const std::string expected = ReferenceEncode(data + kPrefixSize, count);

  for (const bool wrapper : {false, true}) {
    const std::unique_ptr<char[]> pem(new char[blockSize]);
    std::memset(pem.get(), kUntouched, blockSize);
    std::int32_t pemLen = capacityIn;
    const std::int32_t rc = wrapper ? EncodePEMBlock(pem.get(), &pemLen, bytes.get(), derLen)
                                    : DerToPem(bytes.get(), derLen, pem.get(), &pemLen);
    if (!accepted) {
      Require(rc == KX_ERR_LENGTH, "a length or capacity out of range is refused");
      Require(pemLen == capacityIn && AllUntouched(pem.get(), 0, blockSize),
              "a refusal writes nothing");
      continue;
    }
    Require(rc == KX_OK, "encoding succeeds at a sufficient capacity");
    Require(pemLen == needed, "count written is 4 per started group of 3");
    Require(std::memcmp(pem.get(), expected.data(), expected.size()) == 0,
            "text matches the byte-by-byte encoder");
    Require(AllUntouched(pem.get(), expected.size(), blockSize), "nothing written past the count");
  }
  return 0;
}
