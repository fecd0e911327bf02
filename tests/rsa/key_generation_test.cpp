#include "rsa/key_generation.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstring>

#include "rsa/rsa_test_keys.h"

namespace marlinok::rsa {
namespace {

using test::BnPtr;
using test::Bytes;
using test::Field;

// Every property a generated pair must have, with BN as the oracle.
void ExpectSoundPair(const test::RecordPair& pair, uint32_t bits, unsigned long e) {
  const Bytes& pub = pair.publicRecord;
  const Bytes& priv = pair.privateRecord;
  ASSERT_EQ(pub.size(), kPublicRecordBytes);
  ASSERT_EQ(priv.size(), kPrivateRecordBytes);
  EXPECT_EQ(ReadModulusBits(pub.data()), bits);
  EXPECT_EQ(0, std::memcmp(pub.data(), priv.data(), kPublicRecordBytes)) << "prefix invariant";

  BN_CTX* ctx = BN_CTX_new();
  BnPtr n = Field(priv, kModulusOffset, RSA_MODULUS_BYTES);
  BnPtr eb = Field(priv, kPublicExponentOffset, RSA_MODULUS_BYTES);
  BnPtr d = Field(priv, kPrivateExponentOffset, RSA_MODULUS_BYTES);
  BnPtr p = Field(priv, kPrime1Offset, RSA_PRIME_BYTES);
  BnPtr q = Field(priv, kPrime2Offset, RSA_PRIME_BYTES);
  BnPtr dp = Field(priv, kExponent1Offset, RSA_PRIME_BYTES);
  BnPtr dq = Field(priv, kExponent2Offset, RSA_PRIME_BYTES);
  BnPtr qinv = Field(priv, kCoefficientOffset, RSA_PRIME_BYTES);
  BnPtr t(BN_new()), pm1(BN_dup(p.get())), qm1(BN_dup(q.get())), phi(BN_new());
  BN_sub_word(pm1.get(), 1);
  BN_sub_word(qm1.get(), 1);
  BN_mul(phi.get(), pm1.get(), qm1.get(), ctx);

  EXPECT_EQ(BN_num_bits(n.get()), static_cast<int>(bits));
  EXPECT_TRUE(BN_is_word(eb.get(), e));
  EXPECT_GE(BN_cmp(p.get(), q.get()), 0) << "p >= q";
  const int pBits = static_cast<int>((bits + 1) / 2);
  const int qBits = static_cast<int>(bits) - pBits;
  EXPECT_EQ(BN_num_bits(p.get()), pBits);
  EXPECT_EQ(BN_num_bits(q.get()), qBits);
  EXPECT_TRUE(BN_is_bit_set(p.get(), pBits - 2)) << "two top bits of p";
  EXPECT_TRUE(BN_is_bit_set(q.get(), qBits - 2)) << "two top bits of q";
  EXPECT_EQ(BN_check_prime(p.get(), ctx, nullptr), 1);
  EXPECT_EQ(BN_check_prime(q.get(), ctx, nullptr), 1);
  BN_mul(t.get(), p.get(), q.get(), ctx);
  EXPECT_EQ(BN_cmp(t.get(), n.get()), 0) << "n = p q";
  BN_gcd(t.get(), pm1.get(), eb.get(), ctx);
  EXPECT_TRUE(BN_is_one(t.get())) << "gcd(p - 1, e)";
  BN_gcd(t.get(), qm1.get(), eb.get(), ctx);
  EXPECT_TRUE(BN_is_one(t.get())) << "gcd(q - 1, e)";
  BN_mod_mul(t.get(), d.get(), eb.get(), phi.get(), ctx);
  EXPECT_TRUE(BN_is_one(t.get())) << "d e = 1 mod phi";
  EXPECT_LT(BN_cmp(d.get(), phi.get()), 0);
  BN_mod(t.get(), d.get(), pm1.get(), ctx);
  EXPECT_EQ(BN_cmp(t.get(), dp.get()), 0) << "exponent1";
  BN_mod(t.get(), d.get(), qm1.get(), ctx);
  EXPECT_EQ(BN_cmp(t.get(), dq.get()), 0) << "exponent2";
  BN_mod_mul(t.get(), q.get(), qinv.get(), p.get(), ctx);
  EXPECT_TRUE(BN_is_one(t.get())) << "coefficient";
  EXPECT_LT(BN_cmp(qinv.get(), p.get()), 0);
  BN_CTX_free(ctx);
}

TEST(KeyGeneration, Pair1024HasEveryProperty) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  ExpectSoundPair(pair, 1024, 65537);
  // Field layout: 00 04 00 00, n right-aligned with its first byte >= 0x90,
  // e = 01 00 01 at the end, primes of 64 bytes with first byte >= 0xC0.
  const Bytes& r = pair.privateRecord;
  EXPECT_EQ(test::Bytes(r.begin(), r.begin() + 4), (Bytes{0x00, 0x04, 0x00, 0x00}));
  for (std::size_t i = 0; i < 128; ++i) ASSERT_EQ(r[kModulusOffset + i], 0);
  EXPECT_GE(r[kModulusOffset + 128], 0x90);
  EXPECT_EQ(test::Bytes(r.begin() + kPrivateExponentOffset - 3, r.begin() + kPrivateExponentOffset),
            (Bytes{0x01, 0x00, 0x01}));
  EXPECT_GE(r[kPrime1Offset + 64], 0xC0);
  EXPECT_GE(r[kPrime2Offset + 64], 0xC0);
}

TEST(KeyGeneration, SmallestLength508) { ExpectSoundPair(test::GeneratedPair(508), 508, 65537); }

TEST(KeyGeneration, OddLength1001GivesPrimesOf501And500Bits) {
  const test::RecordPair& pair = test::GeneratedPair(1001);
  ExpectSoundPair(pair, 1001, 65537);
  EXPECT_EQ(ModulusBytes(ReadModulusBits(pair.publicRecord.data())), 126u);
}

TEST(KeyGeneration, ExponentThree) {
  const test::RecordPair& pair = test::GeneratedPair(768, 0);
  ExpectSoundPair(pair, 768, 3);
  EXPECT_EQ(pair.publicRecord[kPublicRecordBytes - 1], 0x03);
}

TEST(KeyGeneration, RefusesLengthsOutside508To2048WithoutDrawing) {
  for (uint32_t bits : {0u, 507u, 2049u, 0xFFFFFFFFu}) {
    RandomPool pool = test::SeededPool(1);
    const RandomPool before = pool;
    PublicKeyRecord pub;
    PrivateKeyRecord priv;
    std::memset(&pub, 0xA5, sizeof pub);
    std::memset(&priv, 0xA5, sizeof priv);
    const KeyPairParams params{bits, 1};
    EXPECT_EQ(GenerateRsaKeyPair(&pub, &priv, &params, &pool), Status::ModulusLength) << bits;
    EXPECT_EQ(0, std::memcmp(&pool, &before, sizeof pool)) << "nothing drawn";
    for (uint8_t b : pub.bytes) ASSERT_EQ(b, 0xA5);
    for (uint8_t b : priv.bytes) ASSERT_EQ(b, 0xA5);
  }
}

TEST(KeyGeneration, UnseededPoolWritesNothing) {
  RandomPool pool;
  RandomPoolReset(&pool);
  PublicKeyRecord pub;
  PrivateKeyRecord priv;
  std::memset(&pub, 0xA5, sizeof pub);
  std::memset(&priv, 0xA5, sizeof priv);
  const KeyPairParams params{1024, 1};
  EXPECT_EQ(GenerateRsaKeyPair(&pub, &priv, &params, &pool), Status::NeedSeed);
  for (uint8_t b : pub.bytes) ASSERT_EQ(b, 0xA5);
  for (uint8_t b : priv.bytes) ASSERT_EQ(b, 0xA5);
}

TEST(KeyGeneration, SameSeedSamePair) {
  RandomPool a = test::SeededPool(1);
  RandomPool b = test::SeededPool(1);
  PublicKeyRecord pubA{}, pubB{};
  PrivateKeyRecord privA{}, privB{};
  const KeyPairParams params{512, 1};
  ASSERT_EQ(GenerateRsaKeyPair(&pubA, &privA, &params, &a), Status::Ok);
  ASSERT_EQ(GenerateRsaKeyPair(&pubB, &privB, &params, &b), Status::Ok);
  EXPECT_EQ(0, std::memcmp(&privA, &privB, sizeof privA));
}

TEST(KeyGeneration, ExponentFilterAndCoprimality) {
  const auto number = [](MpDigit v) {
    std::vector<MpDigit> a(2, 0);
    a[0] = v;
    return a;
  };
  const std::vector<MpDigit> three = number(3), f4 = number(65537);
  EXPECT_FALSE(PrimeSuitsExponent(number(7).data(), 2, three.data(), 1));  // 6 = 2 * 3
  EXPECT_TRUE(PrimeSuitsExponent(number(11).data(), 2, three.data(), 1));  // 10
  EXPECT_TRUE(PrimeSuitsExponent(number(11).data(), 2, f4.data(), 1));
  EXPECT_TRUE(AreCoprime(number(35).data(), 2, number(12).data(), 1));
  EXPECT_FALSE(AreCoprime(number(35).data(), 2, number(21).data(), 1));
}

}  // namespace
}  // namespace marlinok::rsa
