// Whole-message DES, 3DES and RC4 for the two encryption calls. Key schedules,
// the chaining block and the RC4 state are locals, wiped on every path.
#include "symmetric/symmetric_message.h"

#include <cstring>

#include "core/wipe.h"
#include "symmetric/block_engine.h"
#include "symmetric/block_modes.h"
#include "symmetric/des_key_setup.h"

namespace marlinok::symmetric {
namespace {

template <class Engine>
Status RunMode(const Engine& engine, BlockMode mode, Direction direction, uint8_t* data,
               std::size_t length) noexcept {
  // The initialisation vector is always zero; the updated chaining block is
  // dropped with the call.
  uint8_t chain[kDesBlockBytes] = {};
  WipeOnExit<decltype(chain)> wipe(chain);
  const bool encrypt = direction == Direction::Encrypt;
  switch (mode) {
    case BlockMode::Cbc:
      return encrypt ? CbcEncrypt(engine, chain, data, length)
                     : CbcDecrypt(engine, chain, data, length);
    case BlockMode::Ecb:
      return encrypt ? EcbEncrypt(engine, data, length) : EcbDecrypt(engine, data, length);
    case BlockMode::Ofb:
      return Ofb64Crypt(engine, chain, data, length);
    case BlockMode::Cfb:
      return encrypt ? Cfb64Encrypt(engine, chain, data, length)
                     : Cfb64Decrypt(engine, chain, data, length);
  }
  return Status::Failed;  // not reached: the caller passes a BlockMode value
}

// Copies the message into the output, where the mode then works in place.
void PlaceMessage(const uint8_t* input, std::size_t length, uint8_t* output,
                  uint32_t& outputLength) noexcept {
  if (length != 0 && input != output) std::memmove(output, input, length);
  outputLength = static_cast<uint32_t>(length);
}

}  // namespace

Status BlockCipherMessage(BlockCipher cipher, BlockMode mode, Direction direction, uint8_t* key,
                          std::size_t keyLength, const uint8_t* input, std::size_t length,
                          uint8_t* output, uint32_t& outputLength) noexcept {
  if (cipher == BlockCipher::Des) {
    DesKeySchedule schedule;
    WipeOnExit<DesKeySchedule> wipe(schedule);
    if (Status s = DesKeySetup(key, keyLength, schedule); s != Status::Ok) return s;
    PlaceMessage(input, length, output, outputLength);
    return RunMode(DesEngine(schedule), mode, direction, output, length);
  }
  TripleDesKeySchedule schedule;
  WipeOnExit<TripleDesKeySchedule> wipe(schedule);
  if (Status s = TripleDesKeySetup(key, keyLength, schedule); s != Status::Ok) return s;
  PlaceMessage(input, length, output, outputLength);
  return RunMode(TripleDesEngine(schedule), mode, direction, output, length);
}

void Rc4Message(const uint8_t* key, std::size_t keyLength, const uint8_t* input, std::size_t length,
                uint8_t* output) noexcept {
  Rc4State state{};
  WipeOnExit<Rc4State> wipe(state);
  Rc4SetKey(state, key, keyLength);
  if (length != 0) Rc4Crypt(state, input, output, length);
}

}  // namespace marlinok::symmetric
