// Multiplication, division and modular products, against OpenSSL's BIGNUM.
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

TEST(MpDivMod, DividendBelowTheDivisor) {
  const Number c{7, 0, 0};
  const Number d{1, 2};
  Number q(3, kFill), r(2, kFill);
  MpDivMod(q.data(), r.data(), c.data(), 3, d.data(), 2);
  EXPECT_EQ(q, Number(3, 0));
  EXPECT_EQ(r, (Number{7, 0}));
  // A dividend with fewer digits than the divisor.
  MpDivMod(q.data(), r.data(), c.data(), 1, d.data(), 2);
  EXPECT_EQ(q[0], 0u);
  EXPECT_EQ(r, (Number{7, 0}));
}

TEST(MpDivMod, ZeroDivisorWritesNothing) {
  const Number c{7, 9};
  const Number d(2, 0);
  Number q(2, kFill), r(2, kFill);
  MpDivMod(q.data(), r.data(), c.data(), 2, d.data(), 2);
  EXPECT_EQ(q, Number(2, kFill));
  EXPECT_EQ(r, Number(2, kFill));
  MpMod(r.data(), c.data(), 2, d.data(), 2);
  EXPECT_EQ(r, Number(2, kFill));
  MpModMul(r.data(), c.data(), c.data(), d.data(), 2);
  EXPECT_EQ(r, Number(2, kFill));
}

TEST(MpDivMod, TopDivisorDigitAllOnes) {
  // (2^128 - 1) div (2^64 - 1) = 2^64 + 1 exactly; and a remainder case.
  const Number c(4, 0xFFFFFFFFu);
  const Number d{0xFFFFFFFFu, 0xFFFFFFFFu};
  Number q(4), r(2);
  MpDivMod(q.data(), r.data(), c.data(), 4, d.data(), 2);
  EXPECT_EQ(q, (Number{1, 0, 1, 0}));
  EXPECT_EQ(r, Number(2, 0));
  const Number c2{5, 0, 0, 0xFFFFFFFFu};
  const Number d2{3, 0xFFFFFFFFu};
  MpDivMod(q.data(), r.data(), c2.data(), 4, d2.data(), 2);
  BnCtx ctx(BN_CTX_new());
  test::Bn bq(BN_new()), br(BN_new());
  ASSERT_TRUE(BN_div(bq.get(), br.get(), ToBn(c2).get(), ToBn(d2).get(), ctx.get()));
  EXPECT_EQ(q, FromBn(bq.get(), 4));
  EXPECT_EQ(r, FromBn(br.get(), 2));
}

TEST(MpDivMod, OutputsMayBeTheInputs) {
  Number c{10, 0, 3};  // 3 * 2^64 + 10
  const Number d{7, 0, 0};
  Number r(3);
  MpDivMod(c.data(), r.data(), c.data(), 3, d.data(), 3);
  BnCtx ctx(BN_CTX_new());
  test::Bn bq(BN_new()), br(BN_new());
  ASSERT_TRUE(BN_div(bq.get(), br.get(), ToBn(Number{10, 0, 3}).get(), ToBn(d).get(), ctx.get()));
  EXPECT_EQ(c, FromBn(bq.get(), 3));
  EXPECT_EQ(r, FromBn(br.get(), 3));
}

TEST(MpMul, ProductMayOverwriteAFactor) {
  Number t{0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0};
  const Number q{0xFFFFFFFFu, 1};
  MpMul(t.data(), t.data(), q.data(), 2);
  // (2^64 - 1)(2^33 - 1) = 2^97 - 2^64 - 2^33 + 1
  EXPECT_EQ(t, (Number{1, 0xFFFFFFFEu, 0xFFFFFFFEu, 1}));
}

TEST(MpModMul, ResultMayOverwriteAnOperand) {
  Number t{12345, 0};
  const Number q{67890, 0};
  const Number p{1000003, 0};
  MpModMul(t.data(), t.data(), q.data(), p.data(), 2);
  EXPECT_EQ(t, (Number{static_cast<MpDigit>(uint64_t{12345} * 67890 % 1000003), 0}));
}

TEST(MpMul, MatchesOracle) {
  Operands gen(1);
  BnCtx ctx(BN_CTX_new());
  test::Bn product(BN_new());
  for (int round = 0; round < 2000; ++round) {
    const uint32_t n = gen.Between(1, MP_MAX_DIGITS);
    const Number b = gen.Random(n, gen.Between(0, n));
    const Number c = gen.Random(n, gen.Between(0, n));
    Number a(2 * n, kFill);
    MpMul(a.data(), b.data(), c.data(), n);
    ASSERT_TRUE(BN_mul(product.get(), ToBn(b).get(), ToBn(c).get(), ctx.get()));
    ASSERT_EQ(a, FromBn(product.get(), 2 * n)) << "round " << round;
  }
}

TEST(MpDivMod, MatchesOracle) {
  Operands gen(2);
  BnCtx ctx(BN_CTX_new());
  test::Bn bq(BN_new()), br(BN_new());
  for (int round = 0; round < 3000; ++round) {
    const uint32_t dn = gen.Between(1, MP_MAX_DIGITS);
    const uint32_t cn = gen.Between(1, 2 * MP_MAX_DIGITS);
    const Number c = gen.Random(cn, gen.Between(0, cn));
    const Number d = gen.Random(dn, gen.Between(1, dn));
    Number q(cn, kFill), r(dn, kFill);
    MpDivMod(q.data(), r.data(), c.data(), cn, d.data(), dn);
    ASSERT_TRUE(BN_div(bq.get(), br.get(), ToBn(c).get(), ToBn(d).get(), ctx.get()));
    ASSERT_EQ(q, FromBn(bq.get(), cn)) << "round " << round;
    ASSERT_EQ(r, FromBn(br.get(), dn)) << "round " << round;
    Number r2(dn, kFill);
    MpMod(r2.data(), c.data(), cn, d.data(), dn);
    ASSERT_EQ(r2, r) << "round " << round;
  }
}

TEST(MpModMul, MatchesOracle) {
  Operands gen(3);
  BnCtx ctx(BN_CTX_new());
  test::Bn expected(BN_new());
  for (int round = 0; round < 1000; ++round) {
    const uint32_t n = gen.Between(1, MP_MAX_DIGITS);
    const Number d = gen.Random(n, gen.Between(1, n));
    const Number b = gen.Random(n, gen.Between(0, n));
    const Number c = gen.Random(n, gen.Between(0, n));
    Number a(n, kFill);
    MpModMul(a.data(), b.data(), c.data(), d.data(), n);
    ASSERT_TRUE(BN_mod_mul(expected.get(), ToBn(b).get(), ToBn(c).get(), ToBn(d).get(), ctx.get()));
    ASSERT_EQ(a, FromBn(expected.get(), n)) << "round " << round;
  }
}

}  // namespace
}  // namespace marlinok::mp
