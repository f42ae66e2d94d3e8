// Fuzzes PemToDer and DecodePEMBlock against a plain group-by-group decoder.
//
// Input: a 4-byte prefix that chooses the capacity, then the text. Read
// big-endian, the prefix is the capacity itself, negative and huge values
// included, unless its first byte is one of three selectors that make the
// capacity relative to the one the text needs (3 per started group of 4):
//   'E'  exactly that capacity;
//   'P'  that capacity plus the prefix's last byte;
//   'M'  that capacity less one less the prefix's last byte (too small).
// Raw capacities starting with those bytes all lie far above the codec's
// limit, where every value is refused alike, so no case is lost.
//
// The text and the output are exactly sized heap blocks, so the sanitizer
// reports the first byte read or written past either of them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "kestrix.h"

namespace {

using kxfuzz::AllUntouched;
using kxfuzz::HeapCopy;
using kxfuzz::kUntouched;
using kxfuzz::Require;

// Largest output block the target allocates. A capacity above it but within
// the codec's limit is passed as this size. One above the limit is passed as
// it is, with a block of the size the text needs: the call must refuse it
// before writing anything, and a write would show in the block or past it.
constexpr std::int64_t kBlockCap = std::int64_t{1} << 16;

// memcmp for n bytes that may be none (an empty vector's data() may be null).
bool SameBytes(const void* a, const void* b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n) == 0;
}

int SextetOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::int64_t NeededCapacity(std::size_t textLen) {
  return static_cast<std::int64_t>(3 * ((textLen + 3) / 4));
}

// What a decode of the text into `capacity` bytes must give.
struct Expected {
  std::int32_t status = KX_OK;
  bool partialGroup = false;      // the text length is not a multiple of 4
  std::size_t badGroup = 0;       // on KX_ERR_MALFORMED: the first bad group
  std::vector<std::uint8_t> out;  // bytes of the groups before it, or all
};

// Decodes one group at a time: every group but the last yields 3 bytes; the
// last one's form follows the text's last two characters ("x=" one byte,
// "=" two) and its pad characters are not looked at.
Expected Reference(const unsigned char* text, std::size_t n, std::int64_t capacity) {
  Expected e;
  if (n < 1 || n > KX_BASE64_MAX_LENGTH || capacity < 1 || capacity > KX_BASE64_MAX_LENGTH ||
      capacity < NeededCapacity(n)) {
    e.status = KX_ERR_LENGTH;
    return e;
  }
  if (n % 4 != 0) {
    e.status = KX_ERR_MALFORMED;
    e.partialGroup = true;
    return e;
  }
  const std::size_t groups = n / 4;
  for (std::size_t g = 0; g < groups; ++g) {
    const unsigned char* c = text + 4 * g;
    int significant = 4;
    if (g + 1 == groups) significant = text[n - 2] == '=' ? 2 : text[n - 1] == '=' ? 3 : 4;
    std::uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) {
      int v = 0;
      if (k < significant) {
        v = SextetOf(c[k]);
        if (v < 0) {
          e.status = KX_ERR_MALFORMED;
          e.badGroup = g;
          return e;
        }
      }
      bits = bits << 6 | static_cast<std::uint32_t>(v);
    }
    for (int k = 0; k < significant - 1; ++k) {
      e.out.push_back(static_cast<std::uint8_t>(bits >> (16 - 8 * k)));
    }
  }
  return e;
}

// The capacity the prefix asks for (see the top of the file).
std::int64_t ChooseCapacity(const std::uint8_t* prefix, std::size_t textLen) {
  return kxfuzz::CapacityFromPrefix(prefix, NeededCapacity(textLen));
}

// Checks one decode call's result and output block against the reference.
void CheckDecode(const Expected& e, std::int32_t status, std::int32_t countIn,
                 std::int32_t countOut, const unsigned char* out, std::size_t blockSize,
                 std::size_t textLen) {
  Require(status == e.status, "status matches the reference decoder");
  switch (status) {
    case KX_OK: {
      const std::size_t count = e.out.size();
      Require(countOut >= 0 && static_cast<std::size_t>(countOut) == count,
              "count written matches the reference");
      Require(countOut <= countIn, "count written within the capacity");
      Require(SameBytes(out, e.out.data(), count), "decoded bytes match the reference");
      Require(AllUntouched(out, count, blockSize), "nothing written past the count");
      break;
    }
    case KX_ERR_MALFORMED: {
      Require(countOut == countIn, "count unchanged after a bad character");
      if (e.partialGroup) {
        const auto needed = static_cast<std::size_t>(NeededCapacity(textLen));
        Require(AllUntouched(out, std::min(needed, blockSize), blockSize),
                "nothing written past the needed capacity");
        break;
      }
      const std::size_t before = 3 * e.badGroup;
      Require(SameBytes(out, e.out.data(), before), "groups before the bad one decoded");
      Require(AllUntouched(out, before, blockSize), "nothing written from the bad group on");
      break;
    }
    default:
      Require(countOut == countIn, "count unchanged after a refused length");
      Require(AllUntouched(out, 0, blockSize), "nothing written after a refused length");
      break;
  }
}

// Encodes the decoded bytes again and decodes the result: whole groups come
// back character for character, and the second decode gives the same bytes.
void CheckReencode(const unsigned char* text, std::size_t textLen, const unsigned char* bytes,
                   std::size_t count) {
  const std::size_t pemSize = 4 * ((count + 2) / 3);
  std::unique_ptr<char[]> pem(new char[pemSize]);
  auto pemLen = static_cast<std::int32_t>(pemSize);
  Require(DerToPem(bytes, static_cast<std::int32_t>(count), pem.get(), &pemLen) == KX_OK,
          "decoded bytes encode");
  Require(static_cast<std::size_t>(pemLen) == textLen, "encoding has the text's length");
  Require(std::memcmp(pem.get(), text, textLen - 3) == 0,
          "whole groups and the last group's first character come back unchanged");

  const std::size_t againSize = 3 * (textLen / 4);
  std::unique_ptr<unsigned char[]> again(new unsigned char[againSize]);
  auto againLen = static_cast<std::int32_t>(againSize);
  Require(PemToDer(pem.get(), pemLen, again.get(), &againLen) == KX_OK, "encoding decodes");
  Require(
      static_cast<std::size_t>(againLen) == count && std::memcmp(again.get(), bytes, count) == 0,
      "decode(encode(bytes)) == bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::size_t textLen = size - 4;
  const std::int64_t capacity = ChooseCapacity(data, textLen);
  const auto text = HeapCopy(data + 4, textLen);

  std::size_t blockSize = 0;
  std::int64_t passed = capacity;
  if (capacity > KX_BASE64_MAX_LENGTH) {
    blockSize = static_cast<std::size_t>(NeededCapacity(textLen));
  } else if (capacity > 0) {
    passed = std::min(capacity, kBlockCap);
    blockSize = static_cast<std::size_t>(passed);
  }
  const Expected e = Reference(text.get(), textLen, passed);
  const auto pem = reinterpret_cast<const char*>(text.get());
  const auto pemLen = static_cast<std::int32_t>(textLen);
  const auto countIn = static_cast<std::int32_t>(passed);

  std::unique_ptr<unsigned char[]> out(new unsigned char[blockSize]);
  std::memset(out.get(), kUntouched, blockSize);
  std::int32_t count = countIn;
  const std::int32_t status = PemToDer(pem, pemLen, out.get(), &count);
  CheckDecode(e, status, countIn, count, out.get(), blockSize, textLen);

  // The wrapper with the output arguments first behaves the same.
  std::unique_ptr<unsigned char[]> out2(new unsigned char[blockSize]);
  std::memset(out2.get(), kUntouched, blockSize);
  std::int32_t count2 = countIn;
  Require(DecodePEMBlock(out2.get(), &count2, pem, pemLen) == status && count2 == count &&
              (blockSize == 0 || std::memcmp(out.get(), out2.get(), blockSize) == 0),
          "DecodePEMBlock matches PemToDer");

  if (status == KX_OK) {
    CheckReencode(text.get(), textLen, out.get(), static_cast<std::size_t>(count));
  }
  return 0;
}
