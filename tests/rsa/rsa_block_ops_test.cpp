#include "rsa/rsa_block_ops.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>
#include <random>

#include "mp/montgomery.h"
#include "rsa/rsa_test_keys.h"
#include "support/openssl_rsa.h"

namespace marlinok::rsa {
namespace {

using test::AsPrivate;
using test::AsPublic;
using test::Bytes;

Bytes RandomBelowModulus(std::mt19937& rng, const Bytes& record) {
  const uint32_t k = ModulusBytes(ReadModulusBits(record.data()));
  Bytes m(k);
  for (auto& b : m) b = static_cast<uint8_t>(rng());
  m[0] = 0;  // below n, whose top byte is nonzero
  return m;
}

Bytes Public(const Bytes& input, const Bytes& record, Status* status = nullptr) {
  Bytes out(256, 0xA5);
  uint32_t length = 0xA5A5A5A5u;
  const Status s = RsaPublicRaw(out.data(), &length, input.data(),
                                static_cast<uint32_t>(input.size()), AsPublic(record));
  if (status != nullptr) *status = s;
  if (s != Status::Ok) return {};
  out.resize(length);
  return out;
}

Bytes Private(const Bytes& input, const Bytes& record, Status* status = nullptr) {
  Bytes out(256, 0xA5);
  uint32_t length = 0xA5A5A5A5u;
  const Status s = RsaPrivateRawCrt(out.data(), &length, input.data(),
                                    static_cast<uint32_t>(input.size()), AsPrivate(record));
  if (status != nullptr) *status = s;
  if (s != Status::Ok) return {};
  out.resize(length);
  return out;
}

Bytes ModulusBytesOf(const Bytes& record) {
  const uint32_t k = ModulusBytes(ReadModulusBits(record.data()));
  return Bytes(record.begin() + kModulusOffset + RSA_MODULUS_BYTES - k,
               record.begin() + kModulusOffset + RSA_MODULUS_BYTES);
}

// OpenSSL's raw private operation (no padding) on its own key.
Bytes OpensslRawPrivate(EVP_PKEY* key, const Bytes& input) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  std::size_t length = 0;
  Bytes out;
  if (EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1 &&
      EVP_PKEY_decrypt(ctx, nullptr, &length, input.data(), input.size()) == 1) {
    out.resize(length);
    if (EVP_PKEY_decrypt(ctx, out.data(), &length, input.data(), input.size()) != 1) out.clear();
  }
  EVP_PKEY_CTX_free(ctx);
  return out;
}

TEST(RsaPrivateRawCrt, AgreesWithOpensslRawPrivateOperationOnEveryKernel) {
  // Each kernel limit (where the processor has the kernel; below it the
  // next one down serves), the public operation as well.
  using mp::detail::Kernel;
  std::mt19937 rng(7);
  for (uint32_t bits : {1024u, 2048u}) {
    marlinok::test::PkeyPtr key = marlinok::test::GenerateRsaKey(bits);
    const Bytes record = marlinok::test::PrivateRecordOf(marlinok::test::NumbersOf(key.get()));
    for (const Kernel kernel : {Kernel::kPortable, Kernel::kAdx, Kernel::kIfma}) {
      mp::detail::MontgomeryLimitKernel(kernel);
      for (int i = 0; i < (bits == 1024 ? 20 : 6); ++i) {
        const Bytes c = RandomBelowModulus(rng, record);
        ASSERT_EQ(test::ToHex(Private(c, record)), test::ToHex(OpensslRawPrivate(key.get(), c)))
            << bits << ", " << mp::detail::KernelName(kernel);
        ASSERT_EQ(Public(c, record), test::OracleModExp(c, record, kPublicExponentOffset))
            << bits << ", " << mp::detail::KernelName(kernel);
      }
    }
    mp::detail::MontgomeryLimitKernel(Kernel::kIfma);
  }
}

TEST(RsaBlockOps, GeneratedPairRoundTripsBothWays) {
  std::mt19937 rng(8);
  for (uint32_t bits : {508u, 1001u, 1024u}) {
    const test::RecordPair& pair = test::GeneratedPair(bits);
    for (int i = 0; i < 10; ++i) {
      const Bytes m = RandomBelowModulus(rng, pair.privateRecord);
      const Bytes c = Public(m, pair.publicRecord);
      ASSERT_EQ(c.size(), ModulusBytes(bits));
      EXPECT_EQ(c, test::OracleModExp(m, pair.privateRecord, kPublicExponentOffset));
      EXPECT_EQ(Private(c, pair.privateRecord), m);
      EXPECT_EQ(Public(Private(m, pair.privateRecord), pair.publicRecord), m);
    }
  }
}

// A record with the smaller prime first and a value whose residues make
// mQ - mP exceed p: the difference must still be taken modulo p.
TEST(RsaPrivateRawCrt, SmallerPrimeFirst) {
  marlinok::test::PkeyPtr key = marlinok::test::GenerateRsaKey(1024);
  const marlinok::test::RsaNumbers numbers = marlinok::test::NumbersOf(key.get());
  test::BnPtr larger = test::BnFromBytes(numbers.p), smaller = test::BnFromBytes(numbers.q);
  ASSERT_GT(BN_cmp(larger.get(), smaller.get()), 0);
  const Bytes swapped = test::RecordFromPrimes(smaller.get(), larger.get(), 65537, 1024);

  // m = 1 mod p (the smaller prime, prime1), m = q - 1 mod q (prime2).
  BN_CTX* ctx = BN_CTX_new();
  test::BnPtr mQ(BN_dup(larger.get())), qInv(BN_new()), t(BN_new()), m(BN_new());
  BN_sub_word(mQ.get(), 1);
  BN_mod_inverse(qInv.get(), larger.get(), smaller.get(), ctx);
  BN_one(t.get());
  BN_mod_sub(t.get(), t.get(), mQ.get(), smaller.get(), ctx);
  BN_mod_mul(t.get(), t.get(), qInv.get(), smaller.get(), ctx);
  BN_mul(m.get(), t.get(), larger.get(), ctx);
  BN_add(m.get(), m.get(), mQ.get());
  test::BnPtr diff(BN_dup(mQ.get()));
  BN_sub_word(diff.get(), 1);
  ASSERT_GT(BN_cmp(diff.get(), smaller.get()), 0) << "mQ - mP > p";
  BN_CTX_free(ctx);

  const Bytes expected = test::BnToBytes(m.get(), 128);
  const Bytes c = Public(expected, swapped);
  EXPECT_EQ(test::ToHex(Private(c, swapped)), test::ToHex(expected));

  std::mt19937 rng(9);
  for (int i = 0; i < 100; ++i) {
    const Bytes x = RandomBelowModulus(rng, swapped);
    ASSERT_EQ(test::ToHex(Private(x, swapped)),
              test::ToHex(test::OracleModExp(x, swapped, kPrivateExponentOffset)));
  }
}

TEST(RsaBlockOps, InputEqualToModulusIsRefusedAndNothingWritten) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  const Bytes n = ModulusBytesOf(pair.publicRecord);
  for (bool usePrivate : {false, true}) {
    Bytes out(256, 0xA5);
    uint32_t length = 0xA5A5A5A5u;
    const Status s =
        usePrivate
            ? RsaPrivateRawCrt(out.data(), &length, n.data(), 128, AsPrivate(pair.privateRecord))
            : RsaPublicRaw(out.data(), &length, n.data(), 128, AsPublic(pair.publicRecord));
    EXPECT_EQ(s, Status::DataRange);
    EXPECT_EQ(length, 0xA5A5A5A5u);
    EXPECT_EQ(out, Bytes(256, 0xA5));
  }
  Bytes below = n;
  below.back() -= 1;  // n is odd
  EXPECT_EQ(Public(below, pair.publicRecord).size(), 128u);
  EXPECT_EQ(Private(below, pair.privateRecord).size(), 128u);
}

TEST(RsaBlockOps, EmptyAndShortInputs) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  EXPECT_EQ(Public({}, pair.publicRecord), Bytes(128, 0));
  EXPECT_EQ(Private({}, pair.privateRecord), Bytes(128, 0));
  Bytes two(128, 0);
  two[127] = 2;
  EXPECT_EQ(Public({0x02}, pair.publicRecord), Public(two, pair.publicRecord));
  Bytes one(128, 0);
  one[127] = 1;
  EXPECT_EQ(Private({0x01}, pair.privateRecord), one);
}

// Bytes in front of the modulus-sized tail: the public operation uses the low
// digits alone; the private one reduces the whole decoded input.
TEST(RsaBlockOps, InputLongerThanTheModulus) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  Bytes tail(128, 0x11);
  Bytes longInput(130, 0x11);
  longInput[0] = 0x01;
  longInput[1] = 0x02;
  EXPECT_EQ(Public(longInput, pair.publicRecord), Public(tail, pair.publicRecord));
  EXPECT_EQ(Private(longInput, pair.privateRecord),
            test::OracleModExp(longInput, pair.privateRecord, kPrivateExponentOffset));
  EXPECT_NE(Private(longInput, pair.privateRecord), Private(tail, pair.privateRecord));
}

Bytes Pkcs1(const Bytes& input, const Bytes& record, RandomPool* pool, Status* status) {
  Bytes out(256, 0xA5);
  uint32_t length = 0xA5A5A5A5u;
  *status = RsaEncryptPublicPkcs1(out.data(), &length, input.data(),
                                  static_cast<uint32_t>(input.size()), AsPublic(record), pool);
  if (*status != Status::Ok) return out;
  out.resize(length);
  return out;
}

// With a zero-filled pool, the padding is the start of MD5 of sixteen zero
// bytes, 4ae71336e44bf9bf79d2752e23.
TEST(RsaEncryptPublicPkcs1, ZeroPoolPaddingExample) {
  // A 256-bit key: k = 32, so 13 padding bytes for a 16-byte input.
  BN_CTX* ctx = BN_CTX_new();
  test::BnPtr p(BN_new()), q(BN_new());
  BN_generate_prime_ex(p.get(), 128, 0, nullptr, nullptr, nullptr);
  do {
    BN_generate_prime_ex(q.get(), 128, 0, nullptr, nullptr, nullptr);
  } while (BN_cmp(p.get(), q.get()) == 0);
  BN_CTX_free(ctx);
  if (BN_cmp(p.get(), q.get()) < 0) std::swap(p, q);
  const Bytes record = test::RecordFromPrimes(p.get(), q.get(), 65537, 256);

  RandomPool pool{};
  Bytes input(16);
  for (uint8_t i = 0; i < 16; ++i) input[i] = static_cast<uint8_t>(i + 1);
  Status status = Status::Failed;
  const Bytes c = Pkcs1(input, record, &pool, &status);
  ASSERT_EQ(status, Status::Ok);
  ASSERT_EQ(c.size(), 32u);
  EXPECT_EQ(test::ToHex(Private(c, record)),
            "0002"
            "4ae71336e44bf9bf79d2752e23"
            "00"
            "0102030405060708090a0b0c0d0e0f10");
}

TEST(RsaEncryptPublicPkcs1, PaddingLengthsAndBlockShape) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  RandomPool pool = test::SeededPool(3);
  Status status = Status::Failed;

  const Bytes longest(117, 0x5A);  // k - 11: eight padding bytes
  Bytes block = Private(Pkcs1(longest, pair.publicRecord, &pool, &status), pair.privateRecord);
  ASSERT_EQ(status, Status::Ok);
  EXPECT_EQ(block[0], 0x00);
  EXPECT_EQ(block[1], 0x02);
  for (int i = 2; i < 10; ++i) EXPECT_NE(block[i], 0x00);
  EXPECT_EQ(block[10], 0x00);
  EXPECT_EQ(Bytes(block.begin() + 11, block.end()), longest);

  const RandomPool before = pool;
  const Bytes out = Pkcs1(Bytes(118, 0x5A), pair.publicRecord, &pool, &status);
  EXPECT_EQ(status, Status::Length);
  EXPECT_EQ(out, Bytes(256, 0xA5));
  EXPECT_EQ(0, std::memcmp(&pool, &before, sizeof pool)) << "nothing drawn";

  const Bytes sixteen(16, 0x77);
  block = Private(Pkcs1(sixteen, pair.publicRecord, &pool, &status), pair.privateRecord);
  ASSERT_EQ(status, Status::Ok);
  for (int i = 2; i < 111; ++i) ASSERT_NE(block[i], 0x00) << i;  // 109 padding bytes
  EXPECT_EQ(block[111], 0x00);
  EXPECT_EQ(Bytes(block.begin() + 112, block.end()), sixteen);
}

// Over many encryptions the pool hands out zeros; each is skipped.
TEST(RsaEncryptPublicPkcs1, PaddingNeverHoldsZero) {
  const test::RecordPair& pair = test::GeneratedPair(508);
  RandomPool pool = test::SeededPool(4);
  const uint32_t k = 64;
  const Bytes input(4, 0xEE);
  for (int run = 0; run < 40; ++run) {
    Status status = Status::Failed;
    const Bytes block =
        Private(Pkcs1(input, pair.publicRecord, &pool, &status), pair.privateRecord);
    ASSERT_EQ(status, Status::Ok);
    for (uint32_t i = 2; i < k - 5; ++i) ASSERT_NE(block[i], 0x00);
  }
}

TEST(RsaEncryptPublicPkcs1, EqualPoolsGiveEqualOutputs) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  RandomPool a = test::SeededPool(5), b = test::SeededPool(5);
  Status sa = Status::Failed, sb = Status::Failed;
  const Bytes input(20, 0x42);
  EXPECT_EQ(Pkcs1(input, pair.publicRecord, &a, &sa), Pkcs1(input, pair.publicRecord, &b, &sb));
  EXPECT_EQ(sa, Status::Ok);
}

TEST(RsaEncryptPublicPkcs1, UnseededPoolStops) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  RandomPool pool;
  RandomPoolReset(&pool);
  Status status = Status::Failed;
  const Bytes out = Pkcs1(Bytes(16, 1), pair.publicRecord, &pool, &status);
  EXPECT_EQ(status, Status::NeedSeed);
  EXPECT_EQ(out, Bytes(256, 0xA5));
}

}  // namespace
}  // namespace marlinok::rsa
