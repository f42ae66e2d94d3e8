// The validity check of GetPreCertVerified.
#ifndef KESTRIX_QUERY_VALIDITY_H
#define KESTRIX_QUERY_VALIDITY_H

#include <cstddef>
#include <cstdint>

#include "cert/records.h"

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

// Where a check time lies against a certificate's validity period.
enum class Validity : std::uint8_t { kInside, kNotYetValid, kExpired, kUnreadable };

// Compares `checkTime` (YYYYMMDDhhmmss; null for the current UTC time) with
// the certificate's notBefore and notAfter, both bounds inclusive, the start
// first. kUnreadable for a validity text or check time that is not digits of
// the right count, or a clock that cannot be read.
Validity CheckValidity(const cert::CertBasicInfo& basic, const char* checkTime);

}  // namespace kx::query

#endif  // KESTRIX_QUERY_VALIDITY_H
