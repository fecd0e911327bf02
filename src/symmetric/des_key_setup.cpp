// DES and 3DES key set-up: odd parity written back into the caller's key
// bytes (idempotent), then the checked schedule, which refuses the 16 weak and
// semi-weak keys.
#include "symmetric/des_key_setup.h"

namespace marlinok::symmetric {
namespace {

constexpr std::size_t kThreeKeyBytes = 3 * kDesKeyBytes;

Status SetupPart(uint8_t* part, DesKeySchedule& schedule) noexcept {
  SetOddParity(part);
  // After the fix-up a parity error cannot occur; a refusal is a weak key.
  return ScheduleCheckedKey(part, schedule) ? Status::Ok : Status::DesKey;
}

}  // namespace

Status DesKeySetup(uint8_t* key, std::size_t length, DesKeySchedule& schedule) noexcept {
  if (length > kDesKeyBytes) return Status::BlockLength;
  return SetupPart(key, schedule);
}

Status TripleDesKeySetup(uint8_t* key, std::size_t length,
                         TripleDesKeySchedule& schedule) noexcept {
  if (Status s = SetupPart(key, schedule.k1); s != Status::Ok) return s;
  if (Status s = SetupPart(key + kDesKeyBytes, schedule.k2); s != Status::Ok) return s;
  if (length == kThreeKeyBytes) return SetupPart(key + 2 * kDesKeyBytes, schedule.k3);
  schedule.k3 = schedule.k1;  // two-key 3DES
  return Status::Ok;
}

}  // namespace marlinok::symmetric
