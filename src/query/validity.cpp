// GetPreCertVerified's validity check.
#include "query/validity.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace kx::query {
namespace {

bool AllDigits(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

bool MakeTimeText(char (&out)[kTimeTextSize + 1]) {
  platform::UtcTime now{};
  if (!platform::CurrentUtcTime(now) || now.year < 0 || now.year > 9999) return false;
  std::snprintf(out, sizeof out, "%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day, now.hour,
                now.minute, now.second);
  return true;
}

bool IsCheckTime(const char* text) {
  return strnlen(text, kTimeTextSize) == kTimeTextSize && AllDigits(text, kTimeTextSize);
}

bool FullTimeText(const char* validity, char (&out)[kTimeTextSize + 1]) {
  const std::size_t length = strnlen(validity, kTimeTextSize + 1);
  if ((length != 12 && length != kTimeTextSize) || !AllDigits(validity, length)) return false;
  char* rest = out;
  if (length == 12) {
    // UTCTime: years 50..99 are 1950..1999, 00..49 are 2000..2049.
    const bool nineteen = validity[0] >= '5';
    *rest++ = nineteen ? '1' : '2';
    *rest++ = nineteen ? '9' : '0';
  }
  std::memcpy(rest, validity, length);
  out[kTimeTextSize] = '\0';
  return true;
}

Validity CheckValidity(const cert::CertBasicInfo& basic, const char* checkTime) {
  char notBefore[kTimeTextSize + 1];
  char notAfter[kTimeTextSize + 1];
  if (!FullTimeText(basic.notBefore, notBefore) || !FullTimeText(basic.notAfter, notAfter)) {
    return Validity::kUnreadable;
  }
  char now[kTimeTextSize + 1];
  if (checkTime == nullptr) {
    if (!MakeTimeText(now)) return Validity::kUnreadable;
    checkTime = now;
  } else if (!IsCheckTime(checkTime)) {
    return Validity::kUnreadable;
  }
  if (std::memcmp(checkTime, notBefore, kTimeTextSize) < 0) return Validity::kNotYetValid;
  if (std::memcmp(checkTime, notAfter, kTimeTextSize) > 0) return Validity::kExpired;
  return Validity::kInside;
}

}  // namespace kx::query
