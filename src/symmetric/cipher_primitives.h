// The single-block DES operations, the DES key checks and RC4, as the cipher
// engine sees them. Only cipher_primitives.cpp knows the library behind them;
// the storage types here are sized and aligned for its structures, which that
// file checks at compile time.
#ifndef MARLINOK_SYMMETRIC_CIPHER_PRIMITIVES_H
#define MARLINOK_SYMMETRIC_CIPHER_PRIMITIVES_H

#include <cstddef>
#include <cstdint>

namespace marlinok::symmetric {

constexpr std::size_t kDesBlockBytes = 8;
constexpr std::size_t kDesKeyBytes = 8;

enum class Direction { Encrypt, Decrypt };

// The 16 subkeys of one DES key.
struct DesKeySchedule {
  alignas(8) unsigned char storage[128];
};

// K1, K2, K3 of encrypt-decrypt-encrypt 3DES.
struct TripleDesKeySchedule {
  DesKeySchedule k1;
  DesKeySchedule k2;
  DesKeySchedule k3;
};

// RC4 permutation and its two indices.
struct Rc4State {
  alignas(8) unsigned char storage[1032];
};

// Sets the least significant bit of each of the 8 bytes so that every byte
// has an odd number of 1 bits.
void SetOddParity(uint8_t* key) noexcept;

// Builds the schedule of an 8-byte key after testing its parity and comparing
// it with the 16 weak and semi-weak keys; false when the key is refused (the
// schedule is then not to be used).
[[nodiscard]] bool ScheduleCheckedKey(const uint8_t* key, DesKeySchedule& schedule) noexcept;

// One 8-byte block in place: E_K(x) or D_K(x).
void DesBlock(const DesKeySchedule& schedule, uint8_t* block, Direction direction) noexcept;

// One 8-byte block in place: E_K3(D_K2(E_K1(x))), or its inverse
// D_K1(E_K2(D_K3(y))).
void TripleDesBlock(const TripleDesKeySchedule& schedule, uint8_t* block,
                    Direction direction) noexcept;

// A fresh RC4 state keyed with `length` (at least 1) bytes.
void Rc4SetKey(Rc4State& state, const uint8_t* key, std::size_t length) noexcept;

// XORs `length` bytes of key stream into input, written to output (which may
// be the input itself).
void Rc4Crypt(Rc4State& state, const uint8_t* input, uint8_t* output, std::size_t length) noexcept;

}  // namespace marlinok::symmetric

#endif
