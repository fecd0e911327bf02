// The processor-specific Montgomery kernels against the portable ones, and
// the exponentiation with the portable kernels forced against the oracle.
#include <gtest/gtest.h>

#include "mp/montgomery.h"
#include "mp/mp.h"
#include "mp/mp_oracle.h"

namespace marlinok::mp {
namespace {

using detail::Kernel;
using detail::Limb;
using detail::Montgomery;
using detail::MontgomeryLimitKernel;
using test::Number;
using test::Operands;
using test::Small;

// Limits the kernels for the life of the object (the portable ones unless
// told otherwise).
class KernelLimit {
 public:
  explicit KernelLimit(Kernel ceiling = Kernel::kPortable) { MontgomeryLimitKernel(ceiling); }
  ~KernelLimit() { MontgomeryLimitKernel(Kernel::kIfma); }
  KernelLimit(const KernelLimit&) = delete;
  KernelLimit& operator=(const KernelLimit&) = delete;
};

TEST(MontgomeryKernels, FastAndPortableProductsAgree) {
  Operands gen(21);
  Montgomery fast, portable;
  Limb x[detail::kMaxLimbs], y[detail::kMaxLimbs];
  Limb r_fast[detail::kMaxLimbs], r_portable[detail::kMaxLimbs];
  for (uint32_t dd = 1; dd <= MP_MAX_DIGITS; ++dd) {
    for (int round = 0; round < 8; ++round) {
      Number d = gen.Random(dd, dd);
      d[0] |= 1;
      if (dd == 1 && d[0] == 1) d[0] = 3;
      const Number b = gen.Random(dd, dd), c = gen.Random(dd, dd);
      {
        KernelLimit forced;
        detail::MontgomeryInit(&portable, d.data(), dd);
      }
      detail::MontgomeryInit(&fast, d.data(), dd);
      detail::MontgomeryEnter(x, b.data(), dd, &portable);
      detail::MontgomeryEnter(y, c.data(), dd, &portable);
      const uint32_t n = portable.n;
      detail::MontgomeryMul(r_portable, x, y, &portable);
      detail::MontgomeryMul(r_fast, x, y, &fast);
      ASSERT_EQ(Number(r_fast, r_fast + n), Number(r_portable, r_portable + n))
          << dd << " digits, round " << round;
      detail::MontgomerySqr(r_portable, x, &portable);
      detail::MontgomerySqr(r_fast, x, &fast);
      ASSERT_EQ(Number(r_fast, r_fast + n), Number(r_portable, r_portable + n))
          << dd << " digits, round " << round;
    }
  }
}

// a * b mod d by the oracle.
Number OracleModMul(const Number& a, const Number& b, const Number& d) {
  test::BnCtx ctx(BN_CTX_new());
  test::Bn r(BN_new());
  EXPECT_TRUE(BN_mod_mul(r.get(), test::ToBn(a).get(), test::ToBn(b).get(), test::ToBn(d).get(),
                         ctx.get()));
  return test::FromBn(r.get(), static_cast<uint32_t>(d.size()));
}

TEST(MontgomeryKernels, ProductsOfCarryHeavyOperandsMatchOracle) {
  // Moduli and operands whose limbs are all or almost all ones carry through
  // every limb of a row and need the final subtraction; each limb count with
  // an unrolled kernel of its own (4, 8, 16, 32 limbs) and one without, under
  // each kernel limit.
  Operands gen(25);
  for (const Kernel kernel : {Kernel::kPortable, Kernel::kAdx}) {
    KernelLimit limit(kernel);
    for (const uint32_t dd : {8u, 16u, 32u, 64u, 34u}) {
      Number ones(dd, 0xFFFFFFFFu), low_one(dd, 0), random = gen.Random(dd, dd);
      low_one[0] = 1;
      low_one[dd - 1] = 0x80000000u;  // 2^(32 dd - 1) + 1
      random[0] |= 1;
      random[dd - 1] |= 0x80000000u;
      const Number moduli[] = {ones, low_one, random};
      for (uint32_t which = 0; which < 3; ++which) {
        const Number& d = moduli[which];
        Number below = d;
        below[0] -= 1;  // d - 1
        const Number operands[] = {below, Small(2, dd), ones};
        Montgomery ctx;
        detail::MontgomeryInit(&ctx, d.data(), dd);
        for (uint32_t i = 0; i < 3; ++i) {
          for (uint32_t j = 0; j < 3; j += 2) {
            const Number &a = operands[i], &b = operands[j];
            SCOPED_TRACE(::testing::Message()
                         << detail::KernelName(kernel) << ", " << dd << " digits, modulus " << which
                         << ", operands " << i << " and " << j);
            Limb x[detail::kMaxLimbs], y[detail::kMaxLimbs];
            Number r(dd);
            detail::MontgomeryEnter(x, a.data(), dd, &ctx);
            detail::MontgomeryEnter(y, b.data(), dd, &ctx);
            detail::MontgomeryMul(y, x, y, &ctx);
            detail::MontgomeryLeave(r.data(), dd, y, &ctx);
            ASSERT_EQ(r, OracleModMul(a, b, d));
            detail::MontgomerySqr(x, x, &ctx);
            detail::MontgomeryLeave(r.data(), dd, x, &ctx);
            ASSERT_EQ(r, OracleModMul(a, a, d));
          }
        }
      }
    }
  }
}

TEST(MontgomeryKernels, PortableExponentiationMatchesOracle) {
  KernelLimit forced;
  Operands gen(22);
  test::BnCtx ctx(BN_CTX_new());
  test::Bn r(BN_new());
  for (uint32_t dn : {1u, 8u, 16u, 17u, 32u, 33u, 64u, 65u}) {
    for (int round = 0; round < 2; ++round) {
      Number d = gen.Random(dn, dn);
      d[0] |= 1;
      const Number b = gen.Random(dn, dn), c = gen.Random(dn, dn);
      Number a(dn, 0xA5A5A5A5u);
      MpModExp(a.data(), b.data(), c.data(), dn, d.data(), dn);
      ASSERT_TRUE(BN_mod_exp(r.get(), test::ToBn(b).get(), test::ToBn(c).get(), test::ToBn(d).get(),
                             ctx.get()));
      ASSERT_EQ(a, test::FromBn(r.get(), dn)) << dn << " digits, round " << round;
    }
  }
}

Number OracleModExp(const Number& b, const Number& c, const Number& d) {
  test::BnCtx ctx(BN_CTX_new());
  test::Bn r(BN_new());
  EXPECT_TRUE(BN_mod_exp(r.get(), test::ToBn(b).get(), test::ToBn(c).get(), test::ToBn(d).get(),
                         ctx.get()));
  return test::FromBn(r.get(), static_cast<uint32_t>(d.size()));
}

TEST(MontgomeryKernels, PublicModuliMatchOracleAsTheCacheFillsAndEvicts) {
  // Under each kernel limit, twelve moduli (more than the cache holds) in three
  // rounds: e = 65537, e = 3, then a long exponent; RSA lengths and odd ones.
  Operands gen(23);
  for (const Kernel kernel : {Kernel::kPortable, Kernel::kAdx, Kernel::kIfma}) {
    KernelLimit limit(kernel);
    std::vector<Number> moduli;
    for (uint32_t dn : {16u, 32u, 64u, 17u, 9u, 65u, 16u, 32u, 64u, 33u, 3u, 64u}) {
      Number d = gen.Random(dn, dn);
      d[0] |= 1;
      moduli.push_back(d);
    }
    for (int round = 0; round < 3; ++round) {
      for (const Number& d : moduli) {
        const uint32_t dn = static_cast<uint32_t>(d.size());
        const Number b = gen.Random(dn, gen.Between(1, dn));
        const Number c = round == 2 ? gen.Random(dn, dn) : Small(round == 0 ? 65537 : 3, 1);
        Number a(dn, 0xA5A5A5A5u);
        MpModExpPublic(a.data(), b.data(), c.data(), static_cast<uint32_t>(c.size()), d.data(), dn);
        ASSERT_EQ(a, OracleModExp(b, c, d))
            << detail::KernelName(kernel) << ", " << dn << " digits, round " << round;
      }
    }
  }
}

TEST(MontgomeryKernels, PairedPowersMatchOracle) {
  // Pairs of moduli (digits of each; equal lengths run interleaved on IFMA,
  // others fall back) with exponents of unequal lengths, a zero exponent
  // and an even modulus, under each kernel limit.
  struct Shape {
    uint32_t d1, d2, c1, c2;
    bool even;
  };
  const Shape shapes[] = {{16, 16, 16, 15, false}, {32, 32, 32, 32, false}, {32, 32, 1, 32, false},
                          {8, 8, 8, 3, false},     {16, 15, 16, 15, false}, {8, 7, 8, 7, false},
                          {32, 32, 0, 32, false},  {16, 16, 16, 16, true}};
  Operands gen(24);
  for (const Kernel kernel : {Kernel::kPortable, Kernel::kAdx, Kernel::kIfma}) {
    KernelLimit limit(kernel);
    for (const Shape& shape : shapes) {
      const uint32_t n = shape.d1 > shape.d2 ? shape.d1 : shape.d2;
      Number d1 = gen.Random(n, shape.d1), d2 = gen.Random(n, shape.d2);
      d1[0] |= 1;
      d2[0] = shape.even ? d2[0] & ~1u : d2[0] | 1;
      d1[shape.d1 - 1] |= 0x80000000u;
      const Number b1 = gen.Random(n, n), b2 = gen.Random(n, n);
      const Number c1 = gen.Random(n, shape.c1), c2 = gen.Random(n, shape.c2);
      Number a1(n, 0xA5A5A5A5u), a2(n, 0xA5A5A5A5u);
      MpModExp2(a1.data(), b1.data(), c1.data(), d1.data(), a2.data(), b2.data(), c2.data(),
                d2.data(), n);
      SCOPED_TRACE(::testing::Message() << detail::KernelName(kernel) << ", " << shape.d1 << "/"
                                        << shape.d2 << " digits");
      EXPECT_EQ(a1, OracleModExp(b1, c1, d1));
      EXPECT_EQ(a2, OracleModExp(b2, c2, d2));
    }
  }
}

#if MARLINOK_MP_IFMA
// The AVX-512 IFMA exponentiation against the portable kernels and the
// oracle; skipped where the processor lacks IFMA.
class IfmaExponentiation : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!detail::IfmaSupported()) GTEST_SKIP() << "no AVX-512 IFMA";
  }

  // b^c mod d on the IFMA path, which has to serve it.
  static Number Ifma(const Number& b, const Number& c, const Number& d) {
    const uint32_t dd = MpDigitCount(d.data(), static_cast<uint32_t>(d.size()));
    const uint32_t ce = MpDigitCount(c.data(), static_cast<uint32_t>(c.size()));
    Number a(d.size(), 0);
    EXPECT_TRUE(detail::IfmaModExp(a.data(), b.data(), static_cast<uint32_t>(b.size()), c.data(),
                                   ce, d.data(), dd));
    return a;
  }

  static Number Portable(const Number& b, const Number& c, const Number& d) {
    KernelLimit forced;
    Number a(d.size(), 0xA5A5A5A5u);
    MpModExp(a.data(), b.data(), c.data(), static_cast<uint32_t>(c.size()), d.data(),
             static_cast<uint32_t>(d.size()));
    return a;
  }

  static Number Oracle(const Number& b, const Number& c, const Number& d) {
    return OracleModExp(b, c, d);
  }

  static void ExpectAllAgree(const Number& b, const Number& c, const Number& d) {
    const Number expected = Oracle(b, c, d);
    ASSERT_EQ(Portable(b, c, d), expected);
    ASSERT_EQ(Ifma(b, c, d), expected);
    // MpModExp itself takes the IFMA path here.
    Number a(d.size(), 0xA5A5A5A5u);
    MpModExp(a.data(), b.data(), c.data(), static_cast<uint32_t>(c.size()), d.data(),
             static_cast<uint32_t>(d.size()));
    ASSERT_EQ(a, expected);
  }
};

TEST_F(IfmaExponentiation, RandomOperandsOf1024Bits) {
  Operands gen(31);
  for (int round = 0; round < 150; ++round) {
    Number d = gen.Random(32, 32);
    d[0] |= 1;
    d[31] |= 0x80000000u;
    const Number b = gen.Random(32, gen.Between(1, 32));
    const Number c = gen.Random(32, gen.Between(1, 32));
    SCOPED_TRACE(round);
    ExpectAllAgree(b, c, d);
  }
}

TEST_F(IfmaExponentiation, RandomOperandsOfEveryCoveredLength) {
  Operands gen(32);
  // 8 digits (256 bits) is the shortest modulus the path takes, 65 digits
  // with a short top digit the longest (up to 2078 bits).
  for (uint32_t dd = 8; dd <= MP_MAX_DIGITS; ++dd) {
    for (int round = 0; round < 3; ++round) {
      Number d = gen.Random(dd, dd);
      d[0] |= 1;
      if (dd == 8) d[dd - 1] |= 0x80000000u;
      if (dd == MP_MAX_DIGITS) d[dd - 1] &= 0x3FFFu;
      if (d[dd - 1] == 0) d[dd - 1] = 1;
      const Number b = gen.Random(dd, dd);
      const Number c = gen.Random(dd, gen.Between(1, dd));
      SCOPED_TRACE(::testing::Message() << dd << " digits, round " << round);
      ExpectAllAgree(b, c, d);
    }
  }
}

TEST_F(IfmaExponentiation, EdgeBasesAndExponents) {
  Operands gen(33);
  for (uint32_t dd : {8u, 16u, 17u, 32u, 33u, 64u}) {
    std::vector<Number> moduli;
    moduli.push_back(Number(dd, 0xFFFFFFFFu));  // 2^(32dd) - 1
    Number low(dd, 0);
    low[0] = 1;
    low[dd - 1] = 0x80000000u;  // 2^(32dd - 1) + 1
    moduli.push_back(low);
    Number random = gen.Random(dd, dd);
    random[0] |= 1;
    random[dd - 1] |= 0x80000000u;
    moduli.push_back(random);
    for (const Number& d : moduli) {
      Number minus_one = d;
      minus_one[0] -= 1;  // d is odd
      Number plus_one = d;
      plus_one[0] += 1;  // d is odd, no carry
      const std::vector<Number> bases = {
          Number(dd, 0), Small(1, dd),           Small(2, dd), minus_one, d,
          plus_one,      Number(dd, 0xFFFFFFFFu)};
      const std::vector<Number> exponents = {Number(dd, 0),
                                             Small(1, dd),
                                             Small(2, dd),
                                             Small(0x10001u, dd),
                                             Number(2, 0xFFFFFFFFu),
                                             Number(dd, 0xFFFFFFFFu),
                                             minus_one};
      for (const Number& b : bases) {
        for (const Number& c : exponents) {
          SCOPED_TRACE(::testing::Message() << dd << " digits");
          const Number expected = Oracle(b, c, d);
          ASSERT_EQ(Portable(b, c, d), expected);
          Number a(dd, 0xA5A5A5A5u);
          MpModExp(a.data(), b.data(), c.data(), static_cast<uint32_t>(c.size()), d.data(), dd);
          ASSERT_EQ(a, expected);
          if (!MpIsZero(c.data(), static_cast<uint32_t>(c.size()))) {
            ASSERT_EQ(Ifma(b, c, d), expected);
          }
        }
      }
    }
  }
}

TEST_F(IfmaExponentiation, ForgoSwitchAndShortModuliFallBack) {
  Number d(7, 0xFFFFFFFFu);  // 224 bits: below the path's range
  const Number b = Small(3, 7), c = Small(0x10001u, 7);
  Number a(7, 0);
  EXPECT_FALSE(detail::IfmaModExp(a.data(), b.data(), 7, c.data(), 1, d.data(), 7));
  Number wide(32, 0xFFFFFFFFu);
  const Number b32 = Small(3, 32), c32 = Small(0x10001u, 32);
  Number a32(32, 0);
  for (const Kernel below : {Kernel::kAdx, Kernel::kPortable}) {
    KernelLimit limit(below);
    EXPECT_NE(detail::MontgomeryKernel(), Kernel::kIfma);
    EXPECT_FALSE(detail::IfmaModExp(a32.data(), b32.data(), 32, c32.data(), 1, wide.data(), 32));
  }
  EXPECT_EQ(detail::MontgomeryKernel(), Kernel::kIfma);
  EXPECT_TRUE(detail::IfmaModExp(a32.data(), b32.data(), 32, c32.data(), 1, wide.data(), 32));
}
#endif

}  // namespace
}  // namespace marlinok::mp
