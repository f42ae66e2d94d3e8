// A test-only builder of DER elements, so a malformed case is one line: a
// chosen tag, a content and a length field in a chosen form (including the
// odd one-byte forms the library reads as their own value).
#ifndef KESTRIX_TESTS_SUPPORT_TLV_BUILDER_H
#define KESTRIX_TESTS_SUPPORT_TLV_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <vector>

namespace kxtest {

using Bytes = std::vector<std::uint8_t>;

enum class LengthForm {
  kMinimal,  // the shortest of the forms below that fits
  kShort,    // one byte 0x00..0x7F
  kLong1,    // 0x81 and one byte
  kLong2,    // 0x82 and two bytes
  kLong3,    // 0x83 and three bytes
  kLong4,    // 0x84 and four bytes
  kOwnByte,  // one byte 0x80 or 0x85..0xFF that is itself the length
};

// The length field that declares n content bytes in `form`; throws when the
// form cannot express n.
inline Bytes LengthField(std::size_t n, LengthForm form = LengthForm::kMinimal) {
  if (form == LengthForm::kMinimal) {
    form = n < 0x80        ? LengthForm::kShort
           : n <= 0xFF     ? LengthForm::kLong1
           : n <= 0xFFFF   ? LengthForm::kLong2
           : n <= 0xFFFFFF ? LengthForm::kLong3
                           : LengthForm::kLong4;
  }
  auto byte = [n](int shift) { return static_cast<std::uint8_t>(n >> shift); };
  switch (form) {
    case LengthForm::kShort:
      if (n < 0x80) return {byte(0)};
      break;
    case LengthForm::kLong1:
      if (n <= 0xFF) return {0x81, byte(0)};
      break;
    case LengthForm::kLong2:
      if (n <= 0xFFFF) return {0x82, byte(8), byte(0)};
      break;
    case LengthForm::kLong3:
      if (n <= 0xFFFFFF) return {0x83, byte(16), byte(8), byte(0)};
      break;
    case LengthForm::kLong4:
      if (n <= 0xFFFFFFFF) return {0x84, byte(24), byte(16), byte(8), byte(0)};
      break;
    case LengthForm::kOwnByte:
      if (n == 0x80 || (n >= 0x85 && n <= 0xFF)) return {byte(0)};
      break;
    case LengthForm::kMinimal: break;
  }
  throw std::invalid_argument("length not expressible in this form");
}

// tag, lengthField, content, as given (the field need not match the content).
inline Bytes RawTlv(std::uint8_t tag, const Bytes& lengthField, const Bytes& content) {
  Bytes out;
  out.reserve(1 + lengthField.size() + content.size());
  out.push_back(tag);
  out.insert(out.end(), lengthField.begin(), lengthField.end());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// A well-formed element whose length field takes `form`.
inline Bytes Tlv(std::uint8_t tag, const Bytes& content, LengthForm form = LengthForm::kMinimal) {
  return RawTlv(tag, LengthField(content.size(), form), content);
}

// n bytes counting up from `first` (wrapping), so every position is distinct.
inline Bytes Filler(std::size_t n, std::uint8_t first = 1) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

// The parts one after another.
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_TLV_BUILDER_H
