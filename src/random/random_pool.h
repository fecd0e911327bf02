// The library's random generator: MD5 over a 128-bit counter, seeded from the
// clock.
//
// The output stream of a pool is MD5(counter), MD5(counter stepped once), ...
// each block handed out from its first byte on. A pool must take in 256 seed
// bytes before it yields anything. The record travels between calls inside a
// DataBlob, so its 40-byte layout is fixed.
#ifndef MARLINOK_RANDOM_RANDOM_POOL_H
#define MARLINOK_RANDOM_RANDOM_POOL_H

#include <cstdint>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok {

constexpr uint32_t kPoolSeedBytes = 256;

struct RandomPool {
  uint32_t seedBytesNeeded;  // 0 once seeded
  uint8_t counter[16];       // big-endian: byte 0 most significant
  uint32_t outputLeft;       // unread bytes at the end of outputBlock, 0..16
  uint8_t outputBlock[16];
};
static_assert(sizeof(RandomPool) == 40, "a pool travels as 40 bytes");

void RandomPoolReset(RandomPool* pool) noexcept;
// counter += MD5(bytes) modulo 2^128; lowers seedBytesNeeded by `length`, not below 0.
void RandomPoolMix(RandomPool* pool, const uint8_t* bytes, uint32_t length) noexcept;
uint32_t RandomPoolSeedNeeded(const RandomPool* pool) noexcept;
// Ok, or NeedSeed with nothing written and the pool unchanged.
Status RandomPoolDraw(uint8_t* out, uint32_t length, RandomPool* pool) noexcept;

// Adds one to the counter, carrying into the next byte when a byte was 0
// before the addition (not when it wraps): 00..00FF steps to 00..0000.
void RandomPoolStepCounter(uint8_t counter[16]) noexcept;

// Resets the pool, mixes 20-byte clock texts until it is seeded (13 readings)
// and draws 20 bytes that are thrown away: 12 bytes of output are left.
void SeedPoolFromClockReadings(RandomPool* pool) noexcept;

// Up to kMaxFreshRandomBytes bytes from a pool of the call's own, seeded
// from the clock now: the first bytes of the block that seeding leaves.
constexpr uint32_t kMaxFreshRandomBytes = 16;
void DrawFreshRandom(uint8_t* out, uint32_t length) noexcept;

// The same on the pool held in blob->data (40 bytes); sets blob->length to 40
// and returns 1.
int32_t SeedPoolFromClock(DataBlob* blob) noexcept;

}  // namespace marlinok

#endif
