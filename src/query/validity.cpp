// GetPreCertVerified: the validity check, then the signature material.
#include "query/validity.h"

#include <cstdio>
#include <cstring>

#include "cert/splitter.h"
#include "kestrix.h"
#include "platform/clock.h"
#include "query/working_records.h"

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

}  // namespace kx::query

extern "C" int32_t KESTRIX_CALL GetPreCertVerified(int32_t /*certLen*/, const unsigned char* cert,
                                                   const char* checkTime, int32_t* tbsLen,
                                                   unsigned char* tbsOut, int32_t* sigLen,
                                                   unsigned char* sigOut) {
  using kx::query::kTimeTextSize;
  if (cert == nullptr) return KX_ERR_MALFORMED;
  char notBefore[kTimeTextSize + 1];
  char notAfter[kTimeTextSize + 1];
  {
    kx::query::WorkingRecords records;
    if (const int32_t rc = kx::query::DecodeCertificate(cert, records); rc != 0) return rc;
    if (!kx::query::FullTimeText(records.basic.notBefore, notBefore) ||
        !kx::query::FullTimeText(records.basic.notAfter, notAfter)) {
      return KX_ERR_MALFORMED;
    }
  }
  char now[kTimeTextSize + 1];
  if (checkTime == nullptr) {
    if (!kx::query::MakeTimeText(now)) return KX_ERR_MALFORMED;
    checkTime = now;
  } else if (!kx::query::IsCheckTime(checkTime)) {
    return KX_ERR_MALFORMED;
  }
  // Both bounds are inclusive; the start is compared first.
  if (std::memcmp(checkTime, notBefore, kTimeTextSize) < 0) return KX_NOT_YET_VALID;
  if (std::memcmp(checkTime, notAfter, kTimeTextSize) > 0) return KX_EXPIRED;
  return CerExpand(cert, tbsOut, tbsLen, sigOut, sigLen);
}
