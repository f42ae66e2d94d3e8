// Fuzzes DerToPem and PemToDer as a pair: any bytes encode to the text a
// plain byte-by-byte encoder gives and decode back to themselves, each at
// exactly the capacity the header asks for; one capacity less is refused
// without a write. Then one character of the text is replaced by one
// outside the alphabet: the decode must fail at that character's group,
// with the groups before it decoded and nothing written from its slot on.
//
// The input also steers the damage: its first byte picks the character and
// its middle and last bytes the position. Odd-sized inputs go through the
// wrappers with the output arguments first.
//
// Every buffer is an exactly sized heap block, so the sanitizer reports the
// first byte read or written past it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "kestrix.h"

namespace {

using kxfuzz::AllUntouched;
using kxfuzz::kUntouched;
using kxfuzz::Require;
using kxtest::OpenSslBase64;

// Every byte value outside the alphabet, "=" included.
std::vector<char> NonAlphabet() {
  std::vector<char> bad;
  for (int c = 0; c < 256; ++c) {
    if (!kxtest::OpenSslBase64Digit(static_cast<char>(c))) bad.push_back(static_cast<char>(c));
  }
  return bad;
}

std::int32_t Encode(bool wrappers, const unsigned char* der, std::int32_t derLen, char* pem,
                    std::int32_t* pemLen) {
  return wrappers ? EncodePEMBlock(pem, pemLen, der, derLen) : DerToPem(der, derLen, pem, pemLen);
}

std::int32_t Decode(bool wrappers, const char* pem, std::int32_t pemLen, unsigned char* der,
                    std::int32_t* derLen) {
  return wrappers ? DecodePEMBlock(der, derLen, pem, pemLen) : PemToDer(pem, pemLen, der, derLen);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<char> kNonAlphabet = NonAlphabet();
  const bool wrappers = size % 2 == 1;
  const auto bytes = kxfuzz::HeapCopy(data, size);
  const auto n = static_cast<std::int32_t>(size);

  const std::size_t textLen = 4 * ((size + 2) / 3);
  std::unique_ptr<char[]> text(new char[textLen]);
  std::memset(text.get(), kUntouched, textLen);
  if (size == 0) {
    std::int32_t capacity = 4;
    Require(
        Encode(wrappers, bytes.get(), n, text.get(), &capacity) == KX_ERR_LENGTH && capacity == 4,
        "empty input refused");
    return 0;
  }

  // One character short of the needed capacity: refused, nothing written.
  auto pemLen = static_cast<std::int32_t>(textLen - 1);
  Require(Encode(wrappers, bytes.get(), n, text.get(), &pemLen) == KX_ERR_LENGTH &&
              pemLen == static_cast<std::int32_t>(textLen - 1) &&
              AllUntouched(reinterpret_cast<unsigned char*>(text.get()), 0, textLen),
          "encoding refuses a capacity one short");

  pemLen = static_cast<std::int32_t>(textLen);
  Require(Encode(wrappers, bytes.get(), n, text.get(), &pemLen) == KX_OK, "encoding succeeds");
  Require(pemLen == static_cast<std::int32_t>(textLen), "encoding writes 4 per started group");
  const std::string expected = OpenSslBase64(data, size);
  Require(std::memcmp(text.get(), expected.data(), textLen) == 0,
          "text matches the byte-by-byte encoder");

  const std::size_t outSize = 3 * (textLen / 4);
  std::unique_ptr<unsigned char[]> out(new unsigned char[outSize]);
  std::memset(out.get(), kUntouched, outSize);
  auto derLen = static_cast<std::int32_t>(outSize - 1);
  Require(Decode(wrappers, text.get(), pemLen, out.get(), &derLen) == KX_ERR_LENGTH &&
              derLen == static_cast<std::int32_t>(outSize - 1) &&
              AllUntouched(out.get(), 0, outSize),
          "decoding refuses a capacity one short, even for padded text");

  derLen = static_cast<std::int32_t>(outSize);
  Require(Decode(wrappers, text.get(), pemLen, out.get(), &derLen) == KX_OK, "decoding succeeds");
  Require(derLen == n && std::memcmp(out.get(), data, size) == 0, "decode(encode(x)) == x");
  Require(AllUntouched(out.get(), size, outSize), "nothing written past the count");

  // Damage one character.
  const std::size_t pos = (std::size_t{data[size / 2]} << 8 | data[size - 1]) % textLen;
  char bad = kNonAlphabet[data[0] % kNonAlphabet.size()];
  // A "=" in the last group may be read as padding: not damage there.
  if (bad == '=' && pos >= textLen - 4) bad = '\n';
  // The second pad of "==" is never looked at: the text still decodes.
  const bool ignored = pos == textLen - 1 && text[textLen - 2] == '=';
  text[pos] = bad;
  std::memset(out.get(), kUntouched, outSize);
  derLen = static_cast<std::int32_t>(outSize);
  const std::int32_t status = Decode(wrappers, text.get(), pemLen, out.get(), &derLen);
  if (ignored) {
    Require(status == KX_OK && derLen == n && std::memcmp(out.get(), data, size) == 0,
            "an ignored pad character changes nothing");
    return 0;
  }
  Require(status == KX_ERR_MALFORMED, "a character outside the alphabet is refused");
  Require(derLen == static_cast<std::int32_t>(outSize), "count unchanged after a bad character");
  const std::size_t before = 3 * (pos / 4);
  Require(std::memcmp(out.get(), data, before) == 0, "groups before the bad one decoded");
  Require(AllUntouched(out.get(), before, outSize), "nothing written from the bad group on");
  return 0;
}
