// Installs a fixed UTC clock for the life of the object.
#ifndef MARLINOK_TESTS_SUPPORT_FIXED_CLOCK_H
#define MARLINOK_TESTS_SUPPORT_FIXED_CLOCK_H

#include "platform/clock.h"

namespace marlinok::test {

class FixedClock {
 public:
  explicit FixedClock(const platform::SystemTime& time);
  ~FixedClock();
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;
  // Readings taken since the clock was installed.
  static int Readings();
};

// 2026-12-06 19:53:23.045 UTC, a Sunday.
constexpr platform::SystemTime kExampleInstant{2026, 12, 0, 6, 19, 53, 23, 45};

}  // namespace marlinok::test

#endif
