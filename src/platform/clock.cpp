#include "platform/clock.h"

#include <atomic>

namespace marlinok::platform {
namespace {
std::atomic<ClockSource> g_testClock{nullptr};
}  // namespace

SystemTime CurrentUtcTime() noexcept {
  ClockSource source = g_testClock.load(std::memory_order_acquire);
  return source != nullptr ? source() : ReadSystemClock();
}

void SetClockSourceForTesting(ClockSource source) noexcept {
  g_testClock.store(source, std::memory_order_release);
}

}  // namespace marlinok::platform
