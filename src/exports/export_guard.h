// The guard every exported C shim runs its body in.
#ifndef MARLINOK_EXPORTS_EXPORT_GUARD_H
#define MARLINOK_EXPORTS_EXPORT_GUARD_H

#include <cstdint>
#include <utility>

#include "core/status.h"

namespace marlinok {

// Runs the body of an export and turns any exception (an allocation that
// failed, above all) into that export's own failure value: nothing thrown may
// cross the C interface.
template <class Body>
int32_t Guarded(int32_t failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return failure;
  }
}

}  // namespace marlinok

#endif
