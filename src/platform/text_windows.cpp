// Text conversion on Windows: the system's own code-page conversion, UTF-8
// in (CP_UTF8) and the process's ANSI code page out (CP_ACP), no flags and
// no default-character override.
#if defined(_WIN32)

#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace kx::platform {

std::size_t WideToAnsi(const char16_t* units, std::size_t count, char* out, std::size_t capacity) {
  // A zero capacity would ask for the size instead of converting.
  if (count == 0 || capacity == 0 || count > INT_MAX || capacity > INT_MAX) return 0;
  const int n =
      WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(units), static_cast<int>(count), out,
                          static_cast<int>(capacity), nullptr, nullptr);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::size_t Utf8ToWide(const char* utf8, std::size_t length, char16_t* out, std::size_t capacity) {
  // A zero capacity with an output would ask for the size instead of converting.
  if (length == 0 || length > INT_MAX || capacity > INT_MAX) return 0;
  if (out != nullptr && capacity == 0) return 0;
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(length), reinterpret_cast<LPWSTR>(out),
                          out != nullptr ? static_cast<int>(capacity) : 0);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool AnsiIsUtf8() {
  return GetACP() == CP_UTF8;
}

std::uint32_t SelfContainedCodePage() {
  return GetACP();
}

std::size_t AnsiPrefixLength(const char* text, std::size_t length, std::size_t limit) {
  if (length <= limit) return length;
  if (GetACP() == CP_UTF8) {
    // Step back from the cut over at most three continuation bytes, to the
    // lead byte of the character the cut would split.
    std::size_t cut = limit;
    for (int k = 0; k < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
         ++k) {
      --cut;
    }
    return cut;
  }
  CPINFO info;
  if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize < 2) return limit;
  // A double-byte code page: a lead byte and the byte after it are one character.
  std::size_t pos = 0;
  while (pos < limit) {
    const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[pos])) != FALSE;
    const std::size_t n = lead && pos + 1 < length ? 2 : 1;
    if (n > limit - pos) break;
    pos += n;
  }
  return pos;
}

}  // namespace kx::platform

#endif  // defined(_WIN32)
