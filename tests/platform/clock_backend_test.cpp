// The system clock backend (GetSystemTime on Windows, clock_gettime elsewhere): UTC fields in
// their ranges, agreeing with the C++ clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "platform/clock.h"

namespace marlinok::platform {
namespace {

TEST(ClockBackend, FieldsAreInRange) {
  const SystemTime t = ReadSystemClock();
  EXPECT_GE(t.year, 2020);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_LE(t.dayOfWeek, 6);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 60);  // a leap second may show
  EXPECT_LE(t.milliseconds, 999);
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

TEST(ClockBackend, AgreesWithTheSystemClockInUtc) {
  const SystemTime t = ReadSystemClock();
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  const long long read = DaysFromCivil(t.year, t.month, t.day) * 86400LL + t.hour * 3600LL +
                         t.minute * 60LL + t.second;
  EXPECT_LE(std::llabs(read - static_cast<long long>(now)), 5);
  // 1970-01-01 was a Thursday.
  EXPECT_EQ(t.dayOfWeek, (DaysFromCivil(t.year, t.month, t.day) % 7 + 11) % 7);
}

}  // namespace
}  // namespace marlinok::platform
