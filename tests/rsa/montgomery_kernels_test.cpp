// The processor-specific Montgomery kernels against the portable ones, and
// the exponentiation with the portable kernels forced against the oracle.
#include <gtest/gtest.h>

#include "rsa/montgomery.h"
#include "rsa/mp.h"
#include "rsa/mp_oracle.h"

namespace marlinok::rsa {
namespace {

using detail::Limb;
using detail::Montgomery;
using detail::MontgomeryForcePortable;
using test::Number;
using test::Operands;

// Forces the portable kernels for the life of the object.
class PortableKernels {
 public:
  PortableKernels() { MontgomeryForcePortable(true); }
  ~PortableKernels() { MontgomeryForcePortable(false); }
  PortableKernels(const PortableKernels&) = delete;
  PortableKernels& operator=(const PortableKernels&) = delete;
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
        PortableKernels forced;
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

TEST(MontgomeryKernels, PortableExponentiationMatchesOracle) {
  PortableKernels forced;
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

}  // namespace
}  // namespace marlinok::rsa
