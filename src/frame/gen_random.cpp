// QM_GenRandom: up to 16 bytes from a pool of the call's own.
#include <cstring>

#include "frame/export_guard.h"
#include "frame/random_pool.h"
#include "frame/wipe.h"
#include "marlinok.h"

namespace marlinok {

constexpr uint32_t kMaxRandomBytes = 16;

// After seeding, the pool's current block is the second of its stream; the
// caller gets its first bytes.
static Status GenerateRandom(uint8_t* out, uint32_t length) {
  RandomPool pool;
  WipeOnExit<RandomPool> wipe(pool);
  SeedPoolFromClockReadings(&pool);
  std::memcpy(out, pool.outputBlock, length);
  return Status::Ok;
}

}  // namespace marlinok

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GenRandom(DataBlob* blob) {
  using namespace marlinok;
  if (blob == nullptr || blob->length > kMaxRandomBytes) return ERR_FAILED;
  if (blob->length == 0) return ERR_OK;
  if (blob->data == nullptr) return ERR_FAILED;
  return ToInt(GenerateRandom(blob->data, blob->length));
}
