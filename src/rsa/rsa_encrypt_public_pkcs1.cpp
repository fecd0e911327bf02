#include "core/wipe.h"
#include "rsa/rsa_block_ops.h"

namespace marlinok::rsa {

Status RsaEncryptPublicPkcs1(uint8_t* output, uint32_t* outputLength, const uint8_t* input,
                             uint32_t inputLength, const PublicKeyRecord* record,
                             RandomPool* pool) noexcept {
  const uint32_t k = ModulusBytes(ReadModulusBits(record->bytes));
  // The block is built in a modulus-sized scratch area.
  if (k > RSA_MODULUS_BYTES) return Status::ModulusLength;
  // At least eight padding bytes: 00 02, padding, 00, input.
  if (uint64_t{inputLength} + 11 > k) return Status::Length;

  uint8_t block[RSA_MODULUS_BYTES];
  uint8_t drawn = 0;
  WipeOnExit<decltype(block)> wipeBlock(block);
  WipeOnExit<uint8_t> wipeDrawn(drawn);
  const uint32_t separator = k - inputLength - 1;
  block[0] = 0x00;
  block[1] = 0x02;
  for (uint32_t i = 2; i < separator; ++i) {
    // A drawn zero is thrown away: the padding must not contain the separator.
    do {
      if (RandomPoolDraw(&drawn, 1, pool) != Status::Ok) return Status::NeedSeed;
    } while (drawn == 0);
    block[i] = drawn;
  }
  block[separator] = 0x00;
  for (uint32_t i = 0; i < inputLength; ++i) block[separator + 1 + i] = input[i];
  return RsaPublicRaw(output, outputLength, block, k, record);
}

}  // namespace marlinok::rsa
