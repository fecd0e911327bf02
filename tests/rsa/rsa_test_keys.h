// Keys for the RSA engine tests: pairs made by the engine itself (made once
// per program and shared, since generation is the slow part), records built
// by OpenSSL's BIGNUM from chosen primes, the BN oracle, and capture of what
// the calls print on standard output.
#ifndef MARLINOK_TESTS_RSA_RSA_TEST_KEYS_H
#define MARLINOK_TESTS_RSA_RSA_TEST_KEYS_H

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "mp/mp.h"
#include "random/random_pool.h"
#include "rsa/key_generation.h"
#include "rsa/key_record.h"
#include "support/hex.h"

namespace marlinok::rsa::test {

using marlinok::test::Bytes;
using marlinok::test::ToHex;

struct BnDeleter {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnDeleter>;

inline BnPtr BnFromBytes(const uint8_t* bytes, std::size_t length) {
  return BnPtr(BN_bin2bn(bytes, static_cast<int>(length), nullptr));
}
inline BnPtr BnFromBytes(const Bytes& bytes) { return BnFromBytes(bytes.data(), bytes.size()); }
inline BnPtr Field(const Bytes& record, std::size_t offset, std::size_t width) {
  return BnFromBytes(record.data() + offset, width);
}
// `width` big-endian bytes, right-aligned.
inline Bytes BnToBytes(const BIGNUM* b, std::size_t width) {
  Bytes out(width);
  if (BN_bn2binpad(b, out.data(), static_cast<int>(width)) < 0) std::abort();
  return out;
}

// A pool seeded from fixed bytes: the same stream in every run.
inline RandomPool SeededPool(uint8_t seed) {
  RandomPool pool;
  RandomPoolReset(&pool);
  uint8_t bytes[kPoolSeedBytes];
  for (uint32_t i = 0; i < kPoolSeedBytes; ++i) bytes[i] = static_cast<uint8_t>(seed + i);
  RandomPoolMix(&pool, bytes, sizeof bytes);
  return pool;
}

struct RecordPair {
  Bytes publicRecord;
  Bytes privateRecord;
};

// A pair from GenerateRsaKeyPair with a fixed-seed pool, made once per
// (bits, useF4) in the program.
inline const RecordPair& GeneratedPair(uint32_t bits, uint32_t useF4 = 1) {
  static std::map<std::pair<uint32_t, uint32_t>, RecordPair> made;
  auto found = made.find({bits, useF4});
  if (found != made.end()) return found->second;
  RandomPool pool = SeededPool(static_cast<uint8_t>(bits + useF4));
  PublicKeyRecord pub{};
  PrivateKeyRecord priv{};
  const KeyPairParams params{bits, useF4};
  if (GenerateRsaKeyPair(&pub, &priv, &params, &pool) != Status::Ok) std::abort();
  RecordPair pair{Bytes(pub.bytes, pub.bytes + sizeof pub.bytes),
                  Bytes(priv.bytes, priv.bytes + sizeof priv.bytes)};
  return made.emplace(std::make_pair(bits, useF4), std::move(pair)).first->second;
}

// The private record of n = prime1 * prime2 with e, in the order given (the
// first prime need not be the larger): d = e^-1 mod (p-1)(q-1), d mod (p-1),
// d mod (q-1), prime2^-1 mod prime1.
inline Bytes RecordFromPrimes(const BIGNUM* p, const BIGNUM* q, unsigned long e, uint32_t bits) {
  BN_CTX* ctx = BN_CTX_new();
  BnPtr n(BN_new()), eb(BN_new()), d(BN_new()), pm1(BN_dup(p)), qm1(BN_dup(q)), phi(BN_new()),
      dp(BN_new()), dq(BN_new()), qinv(BN_new());
  BN_set_word(eb.get(), e);
  BN_sub_word(pm1.get(), 1);
  BN_sub_word(qm1.get(), 1);
  BN_mul(n.get(), p, q, ctx);
  BN_mul(phi.get(), pm1.get(), qm1.get(), ctx);
  if (BN_mod_inverse(d.get(), eb.get(), phi.get(), ctx) == nullptr) std::abort();
  BN_mod(dp.get(), d.get(), pm1.get(), ctx);
  BN_mod(dq.get(), d.get(), qm1.get(), ctx);
  if (BN_mod_inverse(qinv.get(), q, p, ctx) == nullptr) std::abort();
  BN_CTX_free(ctx);
  Bytes record(kPrivateRecordBytes, 0);
  WriteModulusBits(record.data(), bits);
  auto put = [&](std::size_t offset, std::size_t width, const BIGNUM* v) {
    const Bytes b = BnToBytes(v, width);
    std::memcpy(record.data() + offset, b.data(), width);
  };
  put(kModulusOffset, RSA_MODULUS_BYTES, n.get());
  put(kPublicExponentOffset, RSA_MODULUS_BYTES, eb.get());
  put(kPrivateExponentOffset, RSA_MODULUS_BYTES, d.get());
  put(kPrime1Offset, RSA_PRIME_BYTES, p);
  put(kPrime2Offset, RSA_PRIME_BYTES, q);
  put(kExponent1Offset, RSA_PRIME_BYTES, dp.get());
  put(kExponent2Offset, RSA_PRIME_BYTES, dq.get());
  put(kCoefficientOffset, RSA_PRIME_BYTES, qinv.get());
  return record;
}

// base^exponent mod n of a record's fields, as k bytes: the oracle.
inline Bytes OracleModExp(const Bytes& input, const Bytes& record, std::size_t exponentOffset) {
  BN_CTX* ctx = BN_CTX_new();
  BnPtr m = BnFromBytes(input), out(BN_new());
  BnPtr n = Field(record, kModulusOffset, RSA_MODULUS_BYTES);
  BnPtr x = Field(record, exponentOffset, RSA_MODULUS_BYTES);
  BN_mod_exp(out.get(), m.get(), x.get(), n.get(), ctx);
  BN_CTX_free(ctx);
  return BnToBytes(out.get(), ModulusBytes(ReadModulusBits(record.data())));
}

inline const PublicKeyRecord* AsPublic(const Bytes& r) {
  return reinterpret_cast<const PublicKeyRecord*>(r.data());
}
inline const PrivateKeyRecord* AsPrivate(const Bytes& r) {
  return reinterpret_cast<const PrivateKeyRecord*>(r.data());
}

// Everything written to file descriptor 1 while the object lives.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    if (file_ == nullptr) std::abort();
    saved_ = dup(1);
    if (saved_ < 0 || dup2(fileno(file_), 1) < 0) std::abort();
  }
  ~StdoutCapture() {
    Restore();
    std::fclose(file_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::string Text() {
    Restore();
    std::string text;
    std::rewind(file_);
    char buffer[512];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, got);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_ = nullptr;
  int saved_ = -1;
};

}  // namespace marlinok::rsa::test

#endif
