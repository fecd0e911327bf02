#include "support/fixed_clock.h"

#include <atomic>

namespace marlinok::test {
namespace {
platform::SystemTime g_time;
std::atomic<int> g_readings{0};

platform::SystemTime ReadFixed() {
  g_readings.fetch_add(1);
  return g_time;
}
}  // namespace

FixedClock::FixedClock(const platform::SystemTime& time) {
  g_time = time;
  g_readings = 0;
  platform::SetClockSourceForTesting(&ReadFixed);
}

FixedClock::~FixedClock() { platform::SetClockSourceForTesting(nullptr); }

int FixedClock::Readings() { return g_readings.load(); }

}  // namespace marlinok::test
