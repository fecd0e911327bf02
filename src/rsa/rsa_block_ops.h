// The RSA block operations on key records: the bare public operation, the
// bare private operation through the Chinese Remainder Theorem, and PKCS #1
// v1.5 type-2 encryption. Inputs and outputs are big-endian byte strings; a
// successful operation writes exactly k = (modulusBits + 7) / 8 bytes and
// stores k in the output length, a failed one writes nothing. The output must
// hold k bytes. None of them takes a lock; the exported calls serialise them.
#ifndef MARLINOK_RSA_RSA_BLOCK_OPS_H
#define MARLINOK_RSA_RSA_BLOCK_OPS_H

#include <cstdint>

#include "core/status.h"
#include "random/random_pool.h"
#include "rsa/key_record.h"

namespace marlinok::rsa {

// output = input^e mod n. The input is read as a number (an input longer than
// 260 bytes contributes its last 260); only its low digits, as many as n has,
// are compared with n and exponentiated. Ok, or DataRange when they are not
// below n.
Status RsaPublicRaw(uint8_t* output, uint32_t* outputLength, const uint8_t* input,
                    uint32_t inputLength, const PublicKeyRecord* record) noexcept;

// output = input^d mod n from p, q, d mod (p-1), d mod (q-1) and q^-1 mod p;
// the primes may come in either order. The low digits of the input are
// compared with n, but the whole decoded input is reduced modulo p and q. Ok,
// or DataRange.
Status RsaPrivateRawCrt(uint8_t* output, uint32_t* outputLength, const uint8_t* input,
                        uint32_t inputLength, const PrivateKeyRecord* record) noexcept;

// Block 00 02 || nonzero padding drawn byte by byte from `pool` || 00 ||
// input, of k bytes, through RsaPublicRaw. Length when input length + 11 > k
// (nothing drawn); NeedSeed when the pool refuses a draw; ModulusLength for a
// record whose modulusBits exceeds 2048; otherwise RsaPublicRaw's status.
Status RsaEncryptPublicPkcs1(uint8_t* output, uint32_t* outputLength, const uint8_t* input,
                             uint32_t inputLength, const PublicKeyRecord* record,
                             RandomPool* pool) noexcept;

}  // namespace marlinok::rsa

#endif
