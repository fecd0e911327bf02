#include <time.h>

#include "platform/clock.h"

namespace marlinok::platform {

SystemTime ReadSystemClock() noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  SystemTime t{};
  t.year = static_cast<uint16_t>(utc.tm_year + 1900);
  t.month = static_cast<uint16_t>(utc.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(utc.tm_wday);
  t.day = static_cast<uint16_t>(utc.tm_mday);
  t.hour = static_cast<uint16_t>(utc.tm_hour);
  t.minute = static_cast<uint16_t>(utc.tm_min);
  t.second = static_cast<uint16_t>(utc.tm_sec);
  t.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
  return t;
}

}  // namespace marlinok::platform
