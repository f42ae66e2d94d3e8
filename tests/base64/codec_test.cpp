// The Base64 exports: known answers, agreement with OpenSSL on every length,
// the order of the length/capacity checks, and exactly which bytes a refused
// text leaves in the output. Inputs sit in exactly sized heap blocks and
// outputs in larger guard-filled ones, so any read or write past an edge shows.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kestrix.h"
#include "support/guarded_output.h"
#include "support/openssl_base64.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define KESTRIX_TEST_HAS_MMAP 1
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::int32_t kUnchanged = 777;  // a capacity, to see that the out-length stays

struct Outcome {
  std::int32_t rc;
  std::int32_t outLen;  // the out-length after the call
  Bytes out;            // the output up to the last byte written
};

// Calls `op(output, &outLen)` with outLen = capacity, into a guard-filled buffer
// 16 bytes larger than `capacity` (than 64 KiB for larger capacities: the
// tests using those write a few bytes).
template <typename Op>
Outcome Call(std::int32_t capacity, Op op) {
  Outcome o{};
  o.out = kxtest::WrittenBy(static_cast<std::size_t>(std::clamp(capacity, 0, 65536)) + 16,
                            [&](std::uint8_t* out) {
                              o.outLen = capacity;
                              o.rc = op(out, &o.outLen);
                            });
  return o;
}

Outcome Encode(const Bytes& input, std::int32_t capacity) {
  const auto n = static_cast<std::int32_t>(input.size());
  return Call(capacity, [&](std::uint8_t* out, std::int32_t* len) {
    return DerToPem(input.data(), n, reinterpret_cast<char*>(out), len);
  });
}

Outcome Decode(const std::string& text, std::int32_t capacity) {
  const std::vector<char> exact(text.begin(), text.end());
  const auto n = static_cast<std::int32_t>(text.size());
  return Call(capacity, [&](std::uint8_t* out, std::int32_t* len) {
    return PemToDer(exact.data(), n, out, len);
  });
}

std::int32_t EncodedSize(std::size_t n) {
  return static_cast<std::int32_t>(4 * ((n + 2) / 3));
}
std::int32_t DecodeCapacity(std::size_t n) {
  return static_cast<std::int32_t>(3 * ((n + 3) / 4));
}

std::string AsText(const Bytes& b) {
  return std::string(b.begin(), b.end());
}
Bytes AsBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes RandomBytes(std::size_t n, std::mt19937& rng) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// ---- Values ----------------------------------------------------------------------

TEST(Base64, KnownAnswers) {
  const std::pair<std::string, std::string> cases[] = {
      {"a", "YQ=="},        {"ab", "YWI="},        {"abc", "YWJj"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, text] : cases) {
    const Outcome e = Encode(AsBytes(plain), EncodedSize(plain.size()));
    EXPECT_EQ(e.rc, KX_OK);
    EXPECT_EQ(e.outLen, static_cast<std::int32_t>(text.size()));
    EXPECT_EQ(AsText(e.out), text);  // no terminator, nothing past the text

    const Outcome d = Decode(text, DecodeCapacity(text.size()));
    EXPECT_EQ(d.rc, KX_OK);
    EXPECT_EQ(d.outLen, static_cast<std::int32_t>(plain.size()));
    EXPECT_EQ(AsText(d.out), plain);
  }
}

// Every length 1..300 (both the encoder's 6-bytes-at-a-time path and its tail,
// the decoder's 16-character path and its group loop) against OpenSSL.
TEST(Base64, RoundTripAgreesWithOpenSsl) {
  std::mt19937 rng(20240611);
  for (std::size_t n = 1; n <= 300; ++n) {
    SCOPED_TRACE(n);
    const Bytes input = RandomBytes(n, rng);
    const std::string expected = kxtest::OpenSslBase64(input);
    const Outcome e = Encode(input, EncodedSize(n));
    ASSERT_EQ(e.rc, KX_OK);
    EXPECT_EQ(e.outLen, static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(AsText(e.out), expected);

    const Outcome d = Decode(expected, DecodeCapacity(expected.size()));
    ASSERT_EQ(d.rc, KX_OK);
    EXPECT_EQ(d.outLen, static_cast<std::int32_t>(n));
    EXPECT_EQ(d.out, input);

    // OpenSSL's block decoder counts padding as zero bytes.
    Bytes openssl(expected.size());
    ASSERT_EQ(
        EVP_DecodeBlock(openssl.data(), reinterpret_cast<const unsigned char*>(expected.data()),
                        static_cast<int>(expected.size())),
        static_cast<int>(expected.size() / 4 * 3));
    openssl.resize(n);
    EXPECT_EQ(openssl, d.out);
  }
}

TEST(Base64, WrappersOnlyPermuteArguments) {
  const Bytes input = AsBytes("foobar!");
  std::string text(12, '?');
  std::int32_t textLen = 12;
  EXPECT_EQ(EncodePEMBlock(text.data(), &textLen, input.data(), 7), KX_OK);
  EXPECT_EQ(textLen, 12);
  EXPECT_EQ(text, "Zm9vYmFyIQ==");
  Bytes bytes(9, 0);
  std::int32_t bytesLen = 9;
  EXPECT_EQ(DecodePEMBlock(bytes.data(), &bytesLen, text.data(), textLen), KX_OK);
  EXPECT_EQ(bytesLen, 7);
  bytes.resize(7);
  EXPECT_EQ(bytes, input);
  // ...and share the checks of the operations they call.
  bytesLen = 9;
  EXPECT_EQ(DecodePEMBlock(bytes.data(), &bytesLen, "Zm9*", 4), KX_ERR_MALFORMED);
  EXPECT_EQ(bytesLen, 9);
  textLen = 3;
  EXPECT_EQ(EncodePEMBlock(text.data(), &textLen, input.data(), 1), KX_ERR_LENGTH);
}

// ---- Limits: the 100 checks and their order -------------------------------------

TEST(Base64Limits, EncodeCapacityAndLength) {
  for (std::size_t n = 1; n <= 12; ++n) {
    const Bytes input(n, 0x42);
    const Outcome tight = Encode(input, EncodedSize(n) - 1);  // 1 byte into 3: refused
    EXPECT_EQ(tight.rc, KX_ERR_LENGTH);
    EXPECT_EQ(tight.outLen, EncodedSize(n) - 1);
    EXPECT_TRUE(tight.out.empty());
    EXPECT_EQ(Encode(input, EncodedSize(n)).rc, KX_OK);
  }
  const Bytes one{0x61};
  EXPECT_EQ(Encode(one, KX_BASE64_MAX_LENGTH).rc, KX_OK);
  for (std::int32_t capacity : {0, -1, INT32_MIN, KX_BASE64_MAX_LENGTH + 1, INT32_MAX}) {
    EXPECT_EQ(Encode(one, capacity).rc, KX_ERR_LENGTH) << capacity;
  }
  char text[8];
  std::int32_t len = 8;
  for (std::int32_t n : {0, -1, INT32_MIN, KX_BASE64_MAX_LENGTH + 1}) {
    EXPECT_EQ(DerToPem(one.data(), n, text, &len), KX_ERR_LENGTH) << n;
  }
  EXPECT_EQ(DerToPem(one.data(), 1, text, nullptr), KX_ERR_LENGTH);
  EXPECT_EQ(DerToPem(nullptr, 1, text, &len), KX_ERR_LENGTH);
  EXPECT_EQ(DerToPem(one.data(), 1, nullptr, &len), KX_ERR_LENGTH);
  EXPECT_EQ(len, 8);
}

// The largest input whose text fits the largest capacity, and one byte more.
TEST(Base64Limits, LargestEncodeAndDecode) {
  std::mt19937 rng(3);
  const Bytes input = RandomBytes(7500000, rng);
  std::string text(KX_BASE64_MAX_LENGTH, '\0');
  std::int32_t len = KX_BASE64_MAX_LENGTH;
  EXPECT_EQ(DerToPem(input.data(), 7500001, text.data(), &len), KX_ERR_LENGTH);
  ASSERT_EQ(DerToPem(input.data(), 7500000, text.data(), &len), KX_OK);
  EXPECT_EQ(len, KX_BASE64_MAX_LENGTH);
  EXPECT_EQ(text, kxtest::OpenSslBase64(input));
  Bytes back(7500000);
  len = 7500000;
  ASSERT_EQ(PemToDer(text.data(), KX_BASE64_MAX_LENGTH, back.data(), &len), KX_OK);
  EXPECT_EQ(back, input);
  EXPECT_EQ(PemToDer(text.data(), KX_BASE64_MAX_LENGTH + 4, back.data(), &len), KX_ERR_LENGTH);
}

// Capacity and length are checked before the text is looked at, and the
// capacity counts 3 bytes for every group, padded or not.
TEST(Base64Limits, DecodeChecksComeBeforeTheText) {
  EXPECT_EQ(Decode("YQ==", 2).rc, KX_ERR_LENGTH);  // writes 1 byte but needs room for 3
  EXPECT_EQ(Decode("YWJjYQ==", 5).rc, KX_ERR_LENGTH);
  const Outcome o = Decode("YWJjYQ==", 6);
  EXPECT_EQ(o.rc, KX_OK);
  EXPECT_EQ(AsText(o.out), "abca");  // the padded group's room stays untouched
  EXPECT_EQ(Decode("YQ==", KX_BASE64_MAX_LENGTH).rc, KX_OK);
  for (std::int32_t capacity : {2, 0, -1, INT32_MIN, KX_BASE64_MAX_LENGTH + 1}) {
    EXPECT_EQ(Decode("****", capacity).rc, KX_ERR_LENGTH) << capacity;
  }
  Bytes out(8);
  std::int32_t len = 8;
  for (std::int32_t n : {0, -1, INT32_MIN, KX_BASE64_MAX_LENGTH + 1}) {
    EXPECT_EQ(PemToDer("****", n, out.data(), &len), KX_ERR_LENGTH) << n;
  }
  EXPECT_EQ(PemToDer("YWJj", 4, out.data(), nullptr), KX_ERR_LENGTH);
  EXPECT_EQ(PemToDer("YWJj", 4, nullptr, &len), KX_ERR_LENGTH);
  EXPECT_EQ(PemToDer(nullptr, 5, out.data(), &len), KX_ERR_LENGTH);  // null before length % 4
  EXPECT_EQ(len, 8);
}

// A text whose length is not a multiple of 4 is refused unread (where the
// platform allows, it lies in a page that faults on any access): 100 when the
// capacity is short, else -2; nothing written, the out-length unchanged.
TEST(Base64Limits, LengthNotAMultipleOfFourIsRefusedUnread) {
  std::string stars(32, '*');
  const char* text = stars.data();
#ifdef KESTRIX_TEST_HAS_MMAP
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* p = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  text = static_cast<const char*>(p);
#endif
  for (std::int32_t n : {1, 2, 3, 5, 6, 7, 9, 19}) {
    const auto size = static_cast<std::size_t>(n);
    auto call = [&](std::uint8_t* out, std::int32_t* len) { return PemToDer(text, n, out, len); };
    EXPECT_EQ(Call(DecodeCapacity(size) - 1, call).rc, KX_ERR_LENGTH) << n;
    const Outcome o = Call(DecodeCapacity(size), call);
    EXPECT_EQ(o.rc, KX_ERR_MALFORMED) << n;
    EXPECT_EQ(o.outLen, DecodeCapacity(size));
    EXPECT_TRUE(o.out.empty());
  }
#ifdef KESTRIX_TEST_HAS_MMAP
  munmap(p, page);
#endif
}

// ---- Quirks: where a refused text stops, and the last group's padding rule -----

// A bad character at every position of texts of 4..96 characters, unpadded
// and padded (the 16-character path, the group loop, the last group and the
// seams between them): -2, the out-length unchanged, and exactly the bytes of
// the groups before the bad one written.
TEST(Base64Decode, BadCharacterAtEveryPosition) {
  std::mt19937 rng(7);
  for (std::size_t length = 4; length <= 96; length += 4) {
    for (std::size_t pad = 0; pad <= 2; ++pad) {
      const Bytes plain = RandomBytes(length / 4 * 3 - pad, rng);
      const std::string good = kxtest::OpenSslBase64(plain);
      for (std::size_t pos = 0; pos < length; ++pos) {
        for (const char bad : {'*', '\n', '\0', '=', '\x80', ' ', '-'}) {
          std::string text = good;
          text[pos] = bad;
          // Texts that stay well formed are LastGroupPaddingRule's.
          const bool stillPadding = bad == '=' && pos + 2 >= length;
          const bool notLookedAt = text[length - 2] == '=' && pos == length - 1;
          if (stillPadding || notLookedAt) continue;
          SCOPED_TRACE(testing::Message() << "length " << length << ", pad " << pad << ", position "
                                          << pos << ", character " << static_cast<int>(bad));
          const Outcome o = Decode(text, kUnchanged);
          EXPECT_EQ(o.rc, KX_ERR_MALFORMED);
          EXPECT_EQ(o.outLen, kUnchanged);
          const auto before = static_cast<std::ptrdiff_t>(pos / 4 * 3);
          ASSERT_EQ(o.out, Bytes(plain.begin(), plain.begin() + before));
        }
      }
    }
  }
}

// The last group's form follows its last two characters: a third "=" means one
// byte and the fourth character is never looked at; a fourth "=" alone means
// two bytes. Leftover bits of the last significant character are dropped.
TEST(Base64Decode, LastGroupPaddingRule) {
  const struct {
    std::string text;
    std::string plain;
  } cases[] = {
      {"YQ==", "a"},  {"YQ=C", "a"}, {"YQ=*", "a"},        {"YQ=\n", "a"},
      {"YWI=", "ab"}, {"YR==", "a"}, {"YWJjYQ=A", "abca"}, {"YWJjYWI=", "abcab"},
  };
  for (const auto& c : cases) {
    const Outcome o = Decode(c.text, DecodeCapacity(c.text.size()));
    EXPECT_EQ(o.rc, KX_OK) << c.text;
    EXPECT_EQ(AsText(o.out), c.plain) << c.text;
    EXPECT_EQ(o.outLen, static_cast<std::int32_t>(c.plain.size()));
  }
  // "=" anywhere but the last two places is malformed.
  for (const std::string text : {"====", "Y===", "=Q==", "YQ==YWJj", "YWJj=WJj", "YWJjY=Jj"}) {
    const Outcome o = Decode(text, kUnchanged);
    EXPECT_EQ(o.rc, KX_ERR_MALFORMED) << text;
    EXPECT_EQ(o.outLen, kUnchanged);
  }
}

// Every byte value at places in each path: only the 64 alphabet characters
// decode (checked against OpenSSL), "=" only as padding, all else is -2.
TEST(Base64Decode, EveryByteValue) {
  const std::string base = "QUJDREVGR0hJSktMTU5PUFFS";  // 24 characters
  for (int value = 0; value < 256; ++value) {
    const char c = static_cast<char>(value);
    for (const std::size_t pos : {0u, 5u, 10u, 15u, 17u, 20u, 21u, 22u, 23u}) {
      SCOPED_TRACE(testing::Message() << "byte " << value << " at " << pos);
      std::string text = base;
      text[pos] = c;
      const Outcome o = Decode(text, 18);
      if (kAlphabet.find(c) != std::string::npos) {
        ASSERT_EQ(o.rc, KX_OK);
        Bytes openssl(18);
        EVP_DecodeBlock(openssl.data(), reinterpret_cast<const unsigned char*>(text.data()), 24);
        EXPECT_EQ(o.out, openssl);
      } else if (c == '=' && pos >= 22) {
        EXPECT_EQ(o.rc, KX_OK);
      } else {
        EXPECT_EQ(o.rc, KX_ERR_MALFORMED);
        EXPECT_EQ(o.out.size(), pos / 4 * 3);
      }
    }
  }
}

}  // namespace
