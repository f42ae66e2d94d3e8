// Bytes as upper-case hex pairs separated by spaces ("D6 D0"), for
// comparisons whose failure messages should show the bytes of non-ASCII text.
#ifndef KESTRIX_TESTS_SUPPORT_HEX_H
#define KESTRIX_TESTS_SUPPORT_HEX_H

#include <string>

namespace kxtest {

inline std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_HEX_H
