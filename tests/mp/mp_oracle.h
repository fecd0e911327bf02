// OpenSSL's BIGNUM as the oracle for the multi-precision tests, and random
// operands.
#ifndef MARLINOK_TESTS_RSA_MP_ORACLE_H
#define MARLINOK_TESTS_RSA_MP_ORACLE_H

#include <openssl/bn.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "mp/mp.h"

namespace marlinok::mp::test {

using Number = std::vector<MpDigit>;

struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
struct CtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, CtxFree>;

inline Bn ToBn(const MpDigit* a, uint32_t n) {
  std::vector<uint8_t> bytes(4 * n + 1);
  MpEncode(bytes.data(), static_cast<uint32_t>(bytes.size()), a, n);
  return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}
inline Bn ToBn(const Number& a) { return ToBn(a.data(), static_cast<uint32_t>(a.size())); }

// The value as n digits (it must fit).
inline Number FromBn(const BIGNUM* b, uint32_t n) {
  std::vector<uint8_t> bytes(4 * n);
  if (BN_bn2binpad(b, bytes.data(), static_cast<int>(bytes.size())) < 0) return Number(n, 0xDEAD);
  Number a(n);
  MpDecode(a.data(), n, bytes.data(), static_cast<uint32_t>(bytes.size()));
  return a;
}

inline Number Small(MpDigit v, uint32_t n) {
  Number a(n, 0);
  if (n != 0) a[0] = v;
  return a;
}

// Random numbers of n digits with `used` significant digits; now and then a
// digit pattern that strains the carries and the quotient estimates.
class Operands {
 public:
  explicit Operands(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(rng_() % bound); }
  uint32_t Between(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }

  Number Random(uint32_t n, uint32_t used) {
    Number a(n, 0);
    const uint32_t style = Below(8);
    for (uint32_t i = 0; i < used; ++i) {
      switch (style) {
        case 0:
          a[i] = 0xFFFFFFFFu;
          break;
        case 1:
          a[i] = Below(4) == 0 ? 0 : 0xFFFFFFFFu;
          break;
        default:
          a[i] = static_cast<MpDigit>(rng_());
      }
    }
    if (used != 0 && a[used - 1] == 0) a[used - 1] = 1 + Below(0xFFFF);
    if (used != 0 && Below(6) == 0) a[used - 1] = 0xFFFFFFFFu;
    return a;
  }

 private:
  std::mt19937 rng_;
};

}  // namespace marlinok::mp::test

#endif
