// Time texts of the validity check.
#ifndef KESTRIX_QUERY_VALIDITY_H
#define KESTRIX_QUERY_VALIDITY_H

#include <cstddef>

namespace kx::query {

// YYYYMMDDhhmmss.
inline constexpr std::size_t kTimeTextSize = 14;

// The machine's current UTC time as YYYYMMDDhhmmss; false when the clock
// cannot be read.
[[nodiscard]] bool MakeTimeText(char (&out)[kTimeTextSize + 1]);

// True when `text` begins with 14 digits (characters after them are not read).
[[nodiscard]] bool IsCheckTime(const char* text);

// A certificate's validity text (YYMMDDhhmmss or YYYYMMDDhhmmss) with its
// four-digit year: a two-digit year YY is 19YY from 50 on, else 20YY.
// False for any other text.
[[nodiscard]] bool FullTimeText(const char* validity, char (&out)[kTimeTextSize + 1]);

}  // namespace kx::query

#endif  // KESTRIX_QUERY_VALIDITY_H
