#include "random/random_pool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/wipe.h"
#include "digest/md5.h"
#include "platform/clock.h"

namespace marlinok {

void RandomPoolReset(RandomPool* pool) noexcept {
  pool->seedBytesNeeded = kPoolSeedBytes;
  std::memset(pool->counter, 0, sizeof pool->counter);
  pool->outputLeft = 0;
}

void RandomPoolMix(RandomPool* pool, const uint8_t* bytes, uint32_t length) noexcept {
  uint8_t d[digest::kMd5DigestBytes];
  digest::Md5(d, bytes, length);
  // Both numbers are big-endian; the carry out of byte 0 is dropped.
  unsigned carry = 0;
  for (int i = 15; i >= 0; --i) {
    const unsigned sum = carry + pool->counter[i] + d[i];
    pool->counter[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
  pool->seedBytesNeeded = pool->seedBytesNeeded < length ? 0 : pool->seedBytesNeeded - length;
  SecureWipe(d, sizeof d);
}

uint32_t RandomPoolSeedNeeded(const RandomPool* pool) noexcept { return pool->seedBytesNeeded; }

void RandomPoolStepCounter(uint8_t counter[16]) noexcept {
  for (int i = 15; i >= 0; --i) {
    const uint8_t old = counter[i];
    counter[i] = static_cast<uint8_t>(old + 1);
    if (old != 0) return;
  }
}

Status RandomPoolDraw(uint8_t* out, uint32_t length, RandomPool* pool) noexcept {
  if (pool->seedBytesNeeded != 0) return Status::NeedSeed;
  uint32_t avail = pool->outputLeft;
  while (length > avail) {
    std::memcpy(out, pool->outputBlock + (16 - avail), avail);
    out += avail;
    length -= avail;
    digest::Md5(pool->outputBlock, pool->counter, sizeof pool->counter);
    avail = 16;
    RandomPoolStepCounter(pool->counter);
  }
  std::memcpy(out, pool->outputBlock + (16 - avail), length);
  pool->outputLeft = avail - length;
  return Status::Ok;
}

void SeedPoolFromClockReadings(RandomPool* pool) noexcept {
  // A clock reading prints as at most 18 characters (year 30827, two-digit
  // fields, three-digit milliseconds), so the 20 mixed bytes always hold the
  // text, its terminating zero and a zero fill.
  char text[20];
  RandomPoolReset(pool);
  while (RandomPoolSeedNeeded(pool) != 0) {
    const platform::SystemTime t = platform::CurrentUtcTime();
    char printed[48];
    std::snprintf(printed, sizeof printed, "%d%d%d%d%d%d%d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.milliseconds);
    std::memset(text, 0, sizeof text);
    std::memcpy(text, printed, std::min(std::strlen(printed), sizeof text - 1));
    RandomPoolMix(pool, reinterpret_cast<const uint8_t*>(text), sizeof text);
  }
  // The first 20 bytes of the stream are thrown away.
  (void)RandomPoolDraw(reinterpret_cast<uint8_t*>(text), sizeof text, pool);
  SecureWipe(text, sizeof text);
}

void DrawFreshRandom(uint8_t* out, uint32_t length) noexcept {
  RandomPool pool;
  WipeOnExit<RandomPool> wipe(pool);
  SeedPoolFromClockReadings(&pool);
  // After seeding, the pool's current block is the second of its stream.
  std::memcpy(out, pool.outputBlock, length);
}

int32_t SeedPoolFromClock(DataBlob* blob) noexcept {
  SeedPoolFromClockReadings(reinterpret_cast<RandomPool*>(blob->data));
  blob->length = sizeof(RandomPool);
  return 1;
}

}  // namespace marlinok
