// The one place of the library that calls OpenSSL: its DES and RC4 modules.
// They are deprecated in OpenSSL 3 but present, and they are all the library
// needs of it, so the deprecation is silenced here and nowhere else. Only the
// six functions used below may be called: the Windows build links a static
// libcrypto that is expected to offer no more.
#define OPENSSL_API_COMPAT 10100

#include "symmetric/cipher_primitives.h"

#include <openssl/des.h>
#include <openssl/rc4.h>

#include <algorithm>

#include "core/byte_order.h"
#include "core/wipe.h"

namespace marlinok::symmetric {
namespace {

static_assert(sizeof(DES_key_schedule) == sizeof(DesKeySchedule::storage));
static_assert(alignof(DES_key_schedule) <= alignof(DesKeySchedule));
static_assert(sizeof(RC4_KEY) <= sizeof(Rc4State::storage));
static_assert(alignof(RC4_KEY) <= alignof(Rc4State));
static_assert(sizeof(DES_cblock) == kDesBlockBytes);

// OpenSSL takes schedules by non-const pointer but only reads them in the
// block operations.
DES_key_schedule* Native(const DesKeySchedule& schedule) noexcept {
  return reinterpret_cast<DES_key_schedule*>(const_cast<unsigned char*>(schedule.storage));
}

RC4_KEY* Native(Rc4State& state) noexcept { return reinterpret_cast<RC4_KEY*>(state.storage); }

int NativeDirection(Direction direction) noexcept {
  return direction == Direction::Encrypt ? DES_ENCRYPT : DES_DECRYPT;
}

}  // namespace

void SetOddParity(uint8_t* key) noexcept { DES_set_odd_parity(reinterpret_cast<DES_cblock*>(key)); }

bool ScheduleCheckedKey(const uint8_t* key, DesKeySchedule& schedule) noexcept {
  // 0 is success; -1 a parity error, -2 a weak or semi-weak key. The library's
  // const_DES_cblock is not const-qualified; the key is only read.
  auto* bytes = reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(key));
  return DES_set_key_checked(bytes, Native(schedule)) == 0;
}

void DesBlock(const DesKeySchedule& schedule, uint8_t* block, Direction direction) noexcept {
  // The block as DES_ecb_encrypt would take it (two little-endian halves),
  // but through DES_encrypt1: DES_ecb_encrypt's module also holds
  // DES_options, whose string and error helpers would link the library's
  // initialisation, and with it most of libcrypto, into a static build. The
  // block is read whole before the result is stored, so in place is safe.
  DES_LONG halves[2] = {LoadLe32(block), LoadLe32(block + 4)};
  DES_encrypt1(halves, Native(schedule), NativeDirection(direction));
  StoreLe32(block, static_cast<uint32_t>(halves[0]));
  StoreLe32(block + 4, static_cast<uint32_t>(halves[1]));
  SecureWipeObject(halves);
}

void TripleDesBlock(const TripleDesKeySchedule& schedule, uint8_t* block,
                    Direction direction) noexcept {
  DES_ecb3_encrypt(reinterpret_cast<const_DES_cblock*>(block), reinterpret_cast<DES_cblock*>(block),
                   Native(schedule.k1), Native(schedule.k2), Native(schedule.k3),
                   NativeDirection(direction));
}

void Rc4SetKey(Rc4State& state, const uint8_t* key, std::size_t length) noexcept {
  // The key schedule reads key[i mod length] for i below 256, so a key longer
  // than 256 bytes acts exactly as its first 256; capping keeps the length
  // within the int that the library takes.
  const int used = static_cast<int>(std::min<std::size_t>(length, 256));
  RC4_set_key(Native(state), used, key);
}

void Rc4Crypt(Rc4State& state, const uint8_t* input, uint8_t* output, std::size_t length) noexcept {
  RC4(Native(state), length, input, output);
}

}  // namespace marlinok::symmetric
