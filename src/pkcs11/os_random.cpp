#include "pkcs11/os_random.h"

#include <errno.h>
#include <sys/random.h>

#include "core/wipe.h"

namespace marlinok::pkcs11 {

bool OsRandom(uint8_t* out, std::size_t length) noexcept {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = getrandom(out + done, length - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool OsRandomNonZero(uint8_t* out, std::size_t length) noexcept {
  if (!OsRandom(out, length)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    while (out[i] == 0) {
      if (!OsRandom(out + i, 1)) return false;
    }
  }
  return true;
}

bool SeedPoolFromOs(RandomPool* pool) noexcept {
  uint8_t seed[kPoolSeedBytes];
  WipeOnExit<uint8_t[kPoolSeedBytes]> wipe(seed);
  if (!OsRandom(seed, sizeof seed)) return false;
  RandomPoolReset(pool);
  RandomPoolMix(pool, seed, sizeof seed);
  return RandomPoolSeedNeeded(pool) == 0;
}

}  // namespace marlinok::pkcs11
