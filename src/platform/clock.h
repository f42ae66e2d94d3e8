// The machine's current time.
#ifndef KESTRIX_PLATFORM_CLOCK_H
#define KESTRIX_PLATFORM_CLOCK_H

namespace kx::platform {

// The current UTC time, broken down; false when the clock cannot be read.
struct UtcTime {
  int year;   // four digits
  int month;  // 1..12
  int day;
  int hour;
  int minute;
  int second;
};
[[nodiscard]] bool CurrentUtcTime(UtcTime& out);

}  // namespace kx::platform

#endif  // KESTRIX_PLATFORM_CLOCK_H
