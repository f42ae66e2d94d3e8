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
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "kestrix.h"

namespace {

using kxfuzz::AllUntouched;
using kxfuzz::kUntouched;
using kxfuzz::Require;
using kxtest::OpenSslBase64;

constexpr std::size_t kPrefixSize = 5;
constexpr std::int64_t kBlockCap = std::int64_t{1} << 16;

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
  const auto bytes = kxfuzz::HeapCopy(data + kPrefixSize, count);
  const std::int32_t derLen = ChooseLength(data[4], count);
  const auto needed = static_cast<std::int64_t>(4 * ((count + 2) / 3));
  const std::int64_t capacity = kxfuzz::CapacityFromPrefix(data, needed);

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
  const std::string expected = OpenSslBase64(data + kPrefixSize, count);

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
