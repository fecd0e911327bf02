// The guard every exported C shim runs its body in.
#ifndef MARLINOK_EXPORTS_EXPORT_GUARD_H
#define MARLINOK_EXPORTS_EXPORT_GUARD_H

#include <cstdint>
#include <utility>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok {

// The status values callers see are the library's own.
static_assert(ToInt(Status::Ok) == ERR_OK && ToInt(Status::Failed) == ERR_FAILED &&
                  ToInt(Status::Refused) == ERR_REFUSED &&
                  ToInt(Status::DecryptRejected) == ERR_DECRYPT_REJECTED &&
                  ToInt(Status::WrapFailed) == ERR_WRAP_FAILED &&
                  ToInt(Status::StoreNotOpened) == ERR_STORE_NOT_OPENED &&
                  ToInt(Status::DataRange) == ERR_DATA_RANGE &&
                  ToInt(Status::DesKey) == ERR_DES_KEY &&
                  ToInt(Status::BlockLength) == ERR_BLOCK_LENGTH,
              "the public header's status values");

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
