// Modular exponentiation, inverse and gcd, against OpenSSL's BIGNUM.
#include <gtest/gtest.h>

#include "mp/mp.h"
#include "mp/mp_oracle.h"

namespace marlinok::mp {
namespace {

using test::BnCtx;
using test::FromBn;
using test::Number;
using test::Operands;
using test::Small;
using test::ToBn;

constexpr MpDigit kFill = 0xA5A5A5A5u;

Number OracleModExp(const Number& b, const Number& c, const Number& d) {
  BnCtx ctx(BN_CTX_new());
  test::Bn r(BN_new());
  EXPECT_TRUE(BN_mod_exp(r.get(), ToBn(b).get(), ToBn(c).get(), ToBn(d).get(), ctx.get()));
  return FromBn(r.get(), static_cast<uint32_t>(d.size()));
}

Number ModExp(const Number& b, const Number& c, const Number& d) {
  Number a(d.size(), kFill);
  MpModExp(a.data(), b.data(), c.data(), static_cast<uint32_t>(c.size()), d.data(),
           static_cast<uint32_t>(d.size()));
  return a;
}

TEST(MpModExp, ZeroExponentGivesOne) {
  const Number b{5, 0}, c{0}, d{7, 0};
  EXPECT_EQ(ModExp(b, c, d), Small(1, 2));
  // Even for the modulus 1 and for an even modulus.
  EXPECT_EQ(ModExp(b, c, Small(1, 2)), Small(1, 2));
  EXPECT_EQ(ModExp(b, c, Small(10, 2)), Small(1, 2));
}

TEST(MpModExp, ExponentOneGivesTheBase) {
  const Number b{0x12345678u, 0x9ABCDEFu}, c{1};
  const Number d{0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(ModExp(b, c, d), b);
  const Number even{0xFFFFFFFEu, 0xFFFFFFFFu};
  EXPECT_EQ(ModExp(b, c, even), b);
}

TEST(MpModExp, ModulusOneGivesZero) {
  EXPECT_EQ(ModExp(Small(5, 1), Small(3, 1), Small(1, 1)), Small(0, 1));
}

TEST(MpModExp, ZeroModulusGivesOne) {
  // Every product is left unreduced and unwritten, so the running value stays 1.
  EXPECT_EQ(ModExp(Small(5, 2), Small(3, 1), Number(2, 0)), Small(1, 2));
}

TEST(MpModExp, BaseNeedNotBeBelowTheModulus) {
  const Number b{0xFFFFFFFFu, 0xFFFFFFFFu, 7};
  const Number c{0x10001u};
  const Number odd{0x1234567u, 3, 0}, even{0x1234566u, 3, 0};
  EXPECT_EQ(ModExp(b, c, odd), OracleModExp(b, c, odd));
  EXPECT_EQ(ModExp(b, c, even), OracleModExp(b, c, even));
}

TEST(MpModExp, ResultMayOverwriteTheBase) {
  Number t{3, 0};
  const Number c{200};
  const Number d{1000003, 0};
  const Number expected = OracleModExp(t, c, d);
  MpModExp(t.data(), t.data(), c.data(), 1, d.data(), 2);
  EXPECT_EQ(t, expected);
}

TEST(MpModExp, OddModuliMatchOracle) {
  Operands gen(11);
  for (int round = 0; round < 1500; ++round) {
    const uint32_t dn = gen.Between(1, MP_MAX_DIGITS);
    Number d = gen.Random(dn, gen.Between(1, dn));
    d[0] |= 1;
    const Number b = gen.Random(dn, gen.Between(0, dn));
    // Full-size exponents at the smaller sizes; all kinds of lengths otherwise
    // (both sides of the short-exponent and window-size thresholds).
    const uint32_t cn = dn <= 20 ? gen.Between(1, dn + 2) : gen.Between(1, 4);
    const Number c = gen.Random(cn, gen.Between(0, cn));
    ASSERT_EQ(ModExp(b, c, d), OracleModExp(b, c, d)) << "round " << round;
  }
}

TEST(MpModExp, LargeOddModuliWithFullExponentsMatchOracle) {
  Operands gen(12);
  for (uint32_t dn : {16u, 17u, 32u, 33u, 64u, 65u}) {
    for (int round = 0; round < 3; ++round) {
      Number d = gen.Random(dn, dn);
      d[0] |= 1;
      const Number b = gen.Random(dn, dn);
      const Number c = gen.Random(dn, dn);
      ASSERT_EQ(ModExp(b, c, d), OracleModExp(b, c, d)) << dn << " digits, round " << round;
    }
  }
}

TEST(MpModExp, EvenModuliMatchOracle) {
  Operands gen(13);
  for (int round = 0; round < 200; ++round) {
    const uint32_t dn = gen.Between(1, MP_MAX_DIGITS);
    Number d = gen.Random(dn, gen.Between(1, dn));
    d[0] &= ~1u;
    if (MpIsZero(d.data(), dn)) d[0] = 2;
    const Number b = gen.Random(dn, gen.Between(0, dn));
    const uint32_t cn = dn <= 8 ? gen.Between(1, dn) : gen.Between(1, 2);
    const Number c = gen.Random(cn, gen.Between(0, cn));
    ASSERT_EQ(ModExp(b, c, d), OracleModExp(b, c, d)) << "round " << round;
  }
}

TEST(MpModInverse, MatchesOracle) {
  Operands gen(14);
  BnCtx ctx(BN_CTX_new());
  test::Bn expected(BN_new()), g(BN_new());
  int checked = 0;
  for (int round = 0; round < 1500; ++round) {
    const uint32_t n = gen.Between(1, MP_MAX_DIGITS);
    const Number c = gen.Random(n, gen.Between(1, n));
    if (MpCompare(c.data(), Small(1, n).data(), n) <= 0) continue;
    const Number b = gen.Random(n, gen.Between(1, n));  // also above c now and then
    test::Bn bb = ToBn(b), bc = ToBn(c);
    ASSERT_TRUE(BN_gcd(g.get(), bb.get(), bc.get(), ctx.get()));
    if (!BN_is_one(g.get())) continue;
    ASSERT_TRUE(BN_mod_inverse(expected.get(), bb.get(), bc.get(), ctx.get()));
    Number a(n, kFill);
    MpModInverse(a.data(), b.data(), c.data(), n);
    ASSERT_EQ(a, FromBn(expected.get(), n)) << "round " << round;
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST(MpModInverse, KeyGenerationShapes) {
  // e^-1 mod phi with a one-digit e widened to n digits, and q^-1 mod p.
  const Number e = Small(65537, 4);
  const Number phi{0x00000010u, 0x87654321u, 0x0FEDCBA9u, 0x40000000u};
  Number d(4);
  MpModInverse(d.data(), e.data(), phi.data(), 4);
  Number one(4);
  MpModMul(one.data(), d.data(), e.data(), phi.data(), 4);
  EXPECT_EQ(one, Small(1, 4));
}

TEST(MpGcd, MatchesOracle) {
  Operands gen(15);
  BnCtx ctx(BN_CTX_new());
  test::Bn expected(BN_new()), factor(BN_new());
  for (int round = 0; round < 1000; ++round) {
    const uint32_t n = gen.Between(1, MP_MAX_DIGITS);
    Number b = gen.Random(n, gen.Between(0, n));
    Number c = gen.Random(n, gen.Between(0, n));
    if (round % 3 == 0) {
      // A shared factor, so that the gcd is not always 1.
      const uint32_t fn = gen.Between(1, (n + 1) / 2);
      const Number f = gen.Random(fn, fn);
      const Number x = gen.Random(fn, gen.Between(0, fn));
      const Number y = gen.Random(fn, gen.Between(0, fn));
      Number t(2 * fn);
      MpMul(t.data(), f.data(), x.data(), fn);
      b.assign(n, 0);
      std::copy(t.begin(), t.begin() + std::min<size_t>(n, t.size()), b.begin());
      MpMul(t.data(), f.data(), y.data(), fn);
      c.assign(n, 0);
      std::copy(t.begin(), t.begin() + std::min<size_t>(n, t.size()), c.begin());
    }
    Number a(n, kFill);
    MpGcd(a.data(), b.data(), c.data(), n);
    ASSERT_TRUE(BN_gcd(expected.get(), ToBn(b).get(), ToBn(c).get(), ctx.get()));
    ASSERT_EQ(a, FromBn(expected.get(), n)) << "round " << round;
  }
}

}  // namespace
}  // namespace marlinok::mp
