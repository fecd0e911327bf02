// The two block engines that the modes run over: single DES and 3DES (EDE3).
// Each offers its single-block operation in both directions, in place.
#ifndef MARLINOK_SYMMETRIC_BLOCK_ENGINE_H
#define MARLINOK_SYMMETRIC_BLOCK_ENGINE_H

#include <cstdint>

#include "symmetric/cipher_primitives.h"

namespace marlinok::symmetric {

class DesEngine {
 public:
  explicit DesEngine(const DesKeySchedule& schedule) noexcept : schedule_(schedule) {}
  void Encrypt(uint8_t* block) const noexcept { DesBlock(schedule_, block, Direction::Encrypt); }
  void Decrypt(uint8_t* block) const noexcept { DesBlock(schedule_, block, Direction::Decrypt); }

 private:
  const DesKeySchedule& schedule_;
};

class TripleDesEngine {
 public:
  explicit TripleDesEngine(const TripleDesKeySchedule& schedule) noexcept : schedule_(schedule) {}
  void Encrypt(uint8_t* block) const noexcept {
    TripleDesBlock(schedule_, block, Direction::Encrypt);
  }
  void Decrypt(uint8_t* block) const noexcept {
    TripleDesBlock(schedule_, block, Direction::Decrypt);
  }

 private:
  const TripleDesKeySchedule& schedule_;
};

}  // namespace marlinok::symmetric

#endif
