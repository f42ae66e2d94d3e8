#include "platform/clock.h"

#include <ctime>

namespace kx::platform {

bool CurrentUtcTime(UtcTime& out) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  if (gmtime_s(&utc, &now) != 0) return false;
#else
  if (gmtime_r(&now, &utc) == nullptr) return false;
#endif
  out =
      UtcTime{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
  return true;
}

}  // namespace kx::platform
