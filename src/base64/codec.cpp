#include "base64/codec.h"

#include <bit>
#include <cstring>

namespace kx::base64 {
namespace {

using der::Reader;

// ---- Byte order ------------------------------------------------------------

std::uint64_t ByteSwap(std::uint64_t v) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _byteswap_uint64(v);
#else
  return __builtin_bswap64(v);
#endif
}

std::uint32_t ByteSwap(std::uint32_t v) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _byteswap_ulong(v);
#else
  return __builtin_bswap32(v);
#endif
}

template <typename T>
T FromBigEndian(T v) {
  if constexpr (std::endian::native == std::endian::little) return ByteSwap(v);
  return v;
}

// The next 8 bytes of r as a big-endian number; r must hold 8 bytes.
std::uint64_t PeekBigEndian64(const Reader& r) {
  std::uint64_t v;
  std::memcpy(&v, r.pos, sizeof v);
  return FromBigEndian(v);
}

// Stores v in native byte order.
template <typename T>
void StoreNative(void* out, T v) {
  std::memcpy(out, &v, sizeof v);
}

template <typename T>
void StoreBigEndian(std::uint8_t* out, T v) {
  v = FromBigEndian(v);
  std::memcpy(out, &v, sizeof v);
}

// ---- Tables, built at compile time from the alphabet -----------------------

// Two characters for every 12-bit value, as a 16-bit word that holds them
// in memory order: the encoder emits a pair per lookup.
struct PairTable {
  std::uint16_t pair[4096];
};

constexpr std::uint16_t PairOf(char first, char second) {
  const auto a = static_cast<std::uint16_t>(static_cast<unsigned char>(first));
  const auto b = static_cast<std::uint16_t>(static_cast<unsigned char>(second));
  return std::endian::native == std::endian::little ? static_cast<std::uint16_t>(a | b << 8)
                                                    : static_cast<std::uint16_t>(a << 8 | b);
}

constexpr PairTable MakePairTable() {
  PairTable t{};
  for (int v = 0; v < 4096; ++v) t.pair[v] = PairOf(kAlphabet[v >> 6], kAlphabet[v & 63]);
  return t;
}

constexpr PairTable kPairs = MakePairTable();

// The 6-bit value of a character by the alphabet's ranges, or -1.
constexpr int SextetOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// kBad marks a character outside the alphabet; it survives OR-ing the four
// shifted values of a group, so one test checks a whole group.
constexpr std::uint32_t kBad = 0x01000000;

// sextet[k][c]: the value of character c at position k of a group, already
// shifted to its place in the group's 24 bits.
struct SextetTable {
  std::uint32_t sextet[4][256];
};

constexpr SextetTable MakeSextetTable() {
  SextetTable t{};
  for (int c = 0; c < 256; ++c) {
    const int v = SextetOf(static_cast<unsigned char>(c));
    for (int k = 0; k < 4; ++k) {
      t.sextet[k][c] = v < 0 ? kBad : static_cast<std::uint32_t>(v) << (18 - 6 * k);
    }
  }
  return t;
}

constexpr SextetTable kSextets = MakeSextetTable();

// ---- Encoding ----------------------------------------------------------------

// Four character pairs as one word that holds them in memory order.
std::uint64_t JoinPairs(std::uint64_t p0, std::uint64_t p1, std::uint64_t p2, std::uint64_t p3) {
  if constexpr (std::endian::native == std::endian::little) {
    return p0 | p1 << 16 | p2 << 32 | p3 << 48;
  }
  return p0 << 48 | p1 << 32 | p2 << 16 | p3;
}

// Writes the 4 characters of the 24-bit group g.
void EncodeGroup(std::uint32_t g, char* text) {
  std::memcpy(text, &kPairs.pair[g >> 12], 2);
  std::memcpy(text + 2, &kPairs.pair[g & 0xFFF], 2);
}

// ---- Decoding ----------------------------------------------------------------

// The 24 bits of a four-character group, or a value with kBad set.
std::uint32_t DecodeGroup(const std::uint8_t* c) {
  return kSextets.sextet[0][c[0]] | kSextets.sextet[1][c[1]] | kSextets.sextet[2][c[2]] |
         kSextets.sextet[3][c[3]];
}

void StoreGroup(std::uint32_t g, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(g >> 16);
  out[1] = static_cast<std::uint8_t>(g >> 8);
  out[2] = static_cast<std::uint8_t>(g);
}

}  // namespace

void Encode(Reader bytes, char* text) {
  // Two groups per step from one 8-byte read (the top 48 bits are used),
  // stored as one 8-character write.
  while (Remaining(bytes) >= 8) {
    const std::uint64_t w = PeekBigEndian64(bytes);
    StoreNative(text, JoinPairs(kPairs.pair[(w >> 52) & 0xFFF], kPairs.pair[(w >> 40) & 0xFFF],
                                kPairs.pair[(w >> 28) & 0xFFF], kPairs.pair[(w >> 16) & 0xFFF]));
    (void)der::Skip(bytes, 6);
    text += 8;
  }
  Reader group{};
  while (der::ReadBytes(bytes, 3, group)) {
    EncodeGroup(static_cast<std::uint32_t>(group.pos[0]) << 16 |
                    static_cast<std::uint32_t>(group.pos[1]) << 8 | group.pos[2],
                text);
    text += 4;
  }
  // The last group of 1 or 2 bytes, padded with "=".
  std::uint8_t b0 = 0;
  if (!der::ReadByte(bytes, b0)) return;
  std::uint8_t b1 = 0;
  const bool two = der::ReadByte(bytes, b1);
  const std::uint32_t g = static_cast<std::uint32_t>(b0) << 16 | static_cast<std::uint32_t>(b1)
                                                                     << 8;
  text[0] = kAlphabet[g >> 18];
  text[1] = kAlphabet[(g >> 12) & 63];
  text[2] = two ? kAlphabet[(g >> 6) & 63] : kPad;
  text[3] = kPad;
}

bool Decode(Reader text, std::uint8_t* bytes, std::size_t& written) {
  std::uint8_t* const start = bytes;
  Reader block{};
  // Every group but the last is whole; four groups per step are checked
  // together and stored as 8 + 4 bytes. A block with a bad character falls
  // through to the group loop, which stores the groups before it.
  while (Remaining(text) > 16 + 4) {
    if (!der::PeekBytes(text, 16, block)) break;
    const std::uint32_t g0 = DecodeGroup(block.pos);
    const std::uint32_t g1 = DecodeGroup(block.pos + 4);
    const std::uint32_t g2 = DecodeGroup(block.pos + 8);
    const std::uint32_t g3 = DecodeGroup(block.pos + 12);
    if ((g0 | g1 | g2 | g3) & kBad) break;
    StoreBigEndian(bytes, static_cast<std::uint64_t>(g0) << 40 |
                              static_cast<std::uint64_t>(g1) << 16 | g2 >> 8);
    StoreBigEndian(bytes + 8, static_cast<std::uint32_t>(g2 << 24 | g3));
    (void)der::Skip(text, 16);
    bytes += 12;
  }
  Reader group{};
  while (Remaining(text) > 4) {
    if (!der::ReadBytes(text, 4, group)) return false;
    const std::uint32_t g = DecodeGroup(group.pos);
    if (g & kBad) return false;
    StoreGroup(g, bytes);
    bytes += 3;
  }
  // The last group: its last two characters say how many are significant.
  // Only those are mapped; pad characters are never looked at.
  if (!der::ReadBytes(text, 4, group) || !der::ExpectEnd(text)) return false;
  const std::uint8_t* c = group.pos;
  const int significant = c[2] == kPad ? 2 : c[3] == kPad ? 3 : 4;
  std::uint32_t g = kSextets.sextet[0][c[0]] | kSextets.sextet[1][c[1]];
  if (significant >= 3) g |= kSextets.sextet[2][c[2]];
  if (significant == 4) g |= kSextets.sextet[3][c[3]];
  if (g & kBad) return false;
  std::uint8_t last[3];
  StoreGroup(g, last);
  const std::size_t count = static_cast<std::size_t>(significant - 1);
  std::memcpy(bytes, last, count);
  written = static_cast<std::size_t>(bytes - start) + count;
  return true;
}

namespace {

bool InRange(std::size_t n) {
  return n >= 1 && n <= kMaxLength;
}

}  // namespace

Fault EncodeWithin(Reader bytes, char* text, std::size_t capacity, std::size_t& written) {
  const std::size_t length = EncodedLength(der::Remaining(bytes));
  if (!InRange(der::Remaining(bytes)) || !InRange(capacity) || capacity < length) {
    return Fault::kLength;
  }
  Encode(bytes, text);
  written = length;
  return Fault::kNone;
}

Fault DecodeWithin(Reader text, std::uint8_t* bytes, std::size_t capacity, std::size_t& written) {
  const std::size_t length = der::Remaining(text);
  if (!InRange(length) || !InRange(capacity) || capacity < DecodeCapacity(length)) {
    return Fault::kLength;
  }
  // A text of partial groups has no well-formed last group: refused whole.
  if (length % 4 != 0 || !Decode(text, bytes, written)) return Fault::kBase64;
  return Fault::kNone;
}

}  // namespace kx::base64
