// The UTC wall clock, as the Windows SYSTEMTIME fields.
#ifndef MARLINOK_PLATFORM_CLOCK_H
#define MARLINOK_PLATFORM_CLOCK_H

#include <cstdint>

namespace marlinok::platform {

struct SystemTime {
  uint16_t year;
  uint16_t month;      // 1..12
  uint16_t dayOfWeek;  // 0 = Sunday
  uint16_t day;        // 1..31
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

// Reads the operating system's clock (backend).
SystemTime ReadSystemClock() noexcept;

// The clock the library uses: the system clock unless a test installed its own.
using ClockSource = SystemTime (*)();
SystemTime CurrentUtcTime() noexcept;
void SetClockSourceForTesting(ClockSource source) noexcept;  // nullptr restores

}  // namespace marlinok::platform

#endif
