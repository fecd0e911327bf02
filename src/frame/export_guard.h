// Helpers shared by the exported C shims.
#ifndef MARLINOK_FRAME_EXPORT_GUARD_H
#define MARLINOK_FRAME_EXPORT_GUARD_H

#include <cstdint>
#include <utility>

#include "frame/status.h"

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

// The size-query rule: when `buffer` is null or `*length` is below `needed`,
// stores `needed` in `*length` and returns true; the call then answers ERR_OK
// without doing its work. Otherwise returns false and leaves `*length` alone.
inline bool AnswerSizeQuery(const void* buffer, uint32_t* length, uint32_t needed) {
  if (buffer != nullptr && *length >= needed) return false;
  *length = needed;
  return true;
}

}  // namespace marlinok

#endif
