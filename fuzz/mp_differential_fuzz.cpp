// The multi-precision operations against OpenSSL's BIGNUM, digit counts and
// operand shapes chosen by the fuzzer, outputs now and then aliasing inputs.
#include <openssl/bn.h>
#include <openssl/err.h>

#include <cstring>
#include <memory>
#include <vector>

#include "mp/montgomery.h"
#include "mp/mp.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;
using namespace marlinok::mp;

namespace {

using Number = std::vector<MpDigit>;
struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

BN_CTX* Ctx() {
  static BN_CTX* ctx = BN_CTX_new();
  return ctx;
}

Bn ToBn(const MpDigit* a, uint32_t n) {
  std::vector<uint8_t> bytes(4 * n + 1);
  MpEncode(bytes.data(), static_cast<uint32_t>(bytes.size()), a, n);
  return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}
Bn ToBn(const Number& a) { return ToBn(a.data(), static_cast<uint32_t>(a.size())); }
Bn NewBn() { return Bn(BN_new()); }

// `used` significant digits out of n, from the fuzzer's bytes; a shape byte
// turns some digits into all-ones or zero to strain carries and estimates,
// or the upper half into all-ones (numbers just below a power of two, whose
// products carry out of every limb).
Number Operand(Reader& in, uint32_t n, uint32_t used) {
  Number a(n, 0);
  const uint8_t shape = in.Byte();
  for (uint32_t i = 0; i < used && i < n; ++i) {
    a[i] = in.U32();
    if ((shape & 3) == 1 && i % 3 == 0) a[i] = 0xFFFFFFFF;
    if ((shape & 3) == 2 && i + 1 < used) a[i] = 0;
    if ((shape & 3) == 3 && 2 * i + 2 >= used) a[i] = 0xFFFFFFFF;
  }
  if ((shape & 4) != 0 && used != 0 && used <= n) a[used - 1] |= 0x80000000;
  return a;
}

void Same(const Bn& expected, const MpDigit* a, uint32_t n, const char* what) {
  Check(BN_cmp(expected.get(), ToBn(a, n).get()) == 0, what);
}

uint32_t Count(Reader& in, uint32_t max) { return 1 + in.Byte() % max; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint8_t op = in.Byte();
  const bool alias = (op & 0x80) != 0;
  BN_CTX* ctx = Ctx();
  switch (op % 12) {
    case 0:
    case 1: {  // add, sub mod 2^(32n) with carry or borrow
      const uint32_t n = Count(in, MP_MAX_DIGITS);
      Number b = Operand(in, n, n), c = Operand(in, n, n), a(n);
      const Bn bb = ToBn(b), cb = ToBn(c);
      MpDigit* out = alias ? b.data() : a.data();
      Bn expected = NewBn();
      Bn modulus = NewBn();
      BN_set_bit(modulus.get(), static_cast<int>(32 * n));
      MpDigit flag;
      if (op % 12 == 0) {
        flag = MpAdd(out, b.data(), c.data(), n);
        BN_add(expected.get(), bb.get(), cb.get());
        Check(flag == (BN_cmp(expected.get(), modulus.get()) >= 0 ? 1u : 0u), "add carry");
      } else {
        flag = MpSub(out, b.data(), c.data(), n);
        Check(flag == (BN_cmp(bb.get(), cb.get()) < 0 ? 1u : 0u), "sub borrow");
        BN_sub(expected.get(), bb.get(), cb.get());
        BN_add(expected.get(), expected.get(), modulus.get());
      }
      BN_nnmod(expected.get(), expected.get(), modulus.get(), ctx);
      Same(expected, out, n, "add/sub value");
      break;
    }
    case 2: {  // product
      const uint32_t n = Count(in, MP_MAX_DIGITS);
      Number b = Operand(in, n, Count(in, n)), c = Operand(in, n, Count(in, n)), a(2 * n);
      Bn expected = NewBn();
      BN_mul(expected.get(), ToBn(b).get(), ToBn(c).get(), ctx);
      MpMul(a.data(), b.data(), c.data(), n);
      Same(expected, a.data(), 2 * n, "product");
      break;
    }
    case 3: {  // shifts by 0..31 bits
      const uint32_t n = Count(in, MP_MAX_DIGITS);
      const uint32_t k = in.Byte() % 32;
      Number b = Operand(in, n, n), a(n);
      const Bn bb = ToBn(b);
      Number left(n), right(n);
      const MpDigit outLeft = MpShiftLeft(left.data(), b.data(), k, n);
      const MpDigit outRight = MpShiftRight(right.data(), b.data(), k, n);
      Bn expected = NewBn();
      BN_lshift(expected.get(), bb.get(), static_cast<int>(k));
      Bn top = NewBn();
      BN_rshift(top.get(), expected.get(), static_cast<int>(32 * n));
      BN_mask_bits(expected.get(), static_cast<int>(32 * n));
      Same(expected, left.data(), n, "shift left");
      Check(BN_get_word(top.get()) == outLeft, "shift left: bits out");
      BN_rshift(expected.get(), bb.get(), static_cast<int>(k));
      Same(expected, right.data(), n, "shift right");
      const MpDigit low = k == 0 ? 0 : (b[0] & ((1u << k) - 1)) << (32 - k);
      Check(outRight == low, "shift right: bits out");
      break;
    }
    case 4:
    case 5: {  // division with remainder; the remainder alone
      const uint32_t cn = Count(in, kMpDoubleDigits), dn = Count(in, MP_MAX_DIGITS);
      Number c = Operand(in, cn, Count(in, cn)), d = Operand(in, dn, Count(in, dn));
      if (MpIsZero(d.data(), dn)) d[0] = 1 + in.Byte();
      Number q(cn, 0xA5A5A5A5), r(dn, 0xA5A5A5A5);
      Bn eq = NewBn(), er = NewBn();
      BN_div(eq.get(), er.get(), ToBn(c).get(), ToBn(d).get(), ctx);
      if (op % 12 == 4) {
        MpDivMod(q.data(), r.data(), c.data(), cn, d.data(), dn);
        Same(eq, q.data(), cn, "quotient");
      } else {
        MpMod(r.data(), c.data(), cn, d.data(), dn);
      }
      Same(er, r.data(), dn, "remainder");
      break;
    }
    case 6: {  // modular product
      const uint32_t n = Count(in, MP_MAX_DIGITS);
      Number b = Operand(in, n, Count(in, n)), c = Operand(in, n, Count(in, n)),
             d = Operand(in, n, Count(in, n)), a(n);
      if (MpIsZero(d.data(), n)) d[0] = 1 + in.Byte();
      Bn expected = NewBn();
      BN_mod_mul(expected.get(), ToBn(b).get(), ToBn(c).get(), ToBn(d).get(), ctx);
      MpDigit* out = alias ? c.data() : a.data();
      MpModMul(out, b.data(), c.data(), d.data(), n);
      Same(expected, out, n, "modular product");
      break;
    }
    case 7: {  // modular power: odd moduli through Montgomery, even ones schoolbook
      // A flavour byte picks the kernel limit and the entry: the plain power,
      // the public-modulus one (its constants cached) or two powers paired.
      const uint8_t flavour = in.Byte();
      detail::MontgomeryLimitKernel(static_cast<detail::Kernel>(flavour % 3));
      const uint32_t dn = Count(in, MP_MAX_DIGITS), cn = Count(in, MP_MAX_DIGITS);
      Number b = Operand(in, dn, Count(in, dn)), c = Operand(in, cn, Count(in, cn)),
             d = Operand(in, dn, Count(in, dn)), a(dn);
      if ((op & 0x40) != 0) d[0] |= 1;
      MpDigit* out = alias ? b.data() : a.data();
      const auto power = [&](const Number& base, const Number& exponent, const Number& modulus) {
        Bn expected = NewBn();
        if (MpIsZero(modulus.data(), dn) ||
            MpIsZero(exponent.data(), static_cast<uint32_t>(exponent.size()))) {
          BN_one(expected.get());
        } else {
          BN_mod_exp(expected.get(), ToBn(base).get(), ToBn(exponent).get(), ToBn(modulus).get(),
                     ctx);
        }
        return expected;
      };
      const Bn expected = power(b, c, d);
      if ((flavour & 4) != 0) {
        MpModExpPublic(out, b.data(), c.data(), cn, d.data(), dn);
        Same(expected, out, dn, "modular power, public modulus");
      } else if ((flavour & 8) != 0) {
        // The pair takes exponents of dn digits; the second modulus is
        // the first one's length (same length: interleaved on IFMA) or not.
        Number c1(dn, 0), b2 = Operand(in, dn, dn), c2 = Operand(in, dn, Count(in, dn));
        Number d2 = Operand(in, dn, (flavour & 16) != 0 ? Count(in, dn) : dn), a2(dn);
        for (uint32_t i = 0; i < dn && i < cn; ++i) c1[i] = c[i];
        d2[0] |= (flavour >> 5) & 1;
        MpModExp2(a.data(), b.data(), c1.data(), d.data(), a2.data(), b2.data(), c2.data(),
                  d2.data(), dn);
        Same(power(b, c1, d), a.data(), dn, "paired power, first");
        Same(power(b2, c2, d2), a2.data(), dn, "paired power, second");
      } else {
        MpModExp(out, b.data(), c.data(), cn, d.data(), dn);
        Same(expected, out, dn, "modular power");
      }
      detail::MontgomeryLimitKernel(detail::Kernel::kIfma);
      break;
    }
    case 8: {  // inverse where one exists
      const uint32_t n = Count(in, MP_MAX_DIGITS);
      Number b = Operand(in, n, Count(in, n)), c = Operand(in, n, Count(in, n)), a(n);
      Bn expected(BN_mod_inverse(nullptr, ToBn(b).get(), ToBn(c).get(), ctx));
      if (!expected || BN_is_zero(ToBn(c).get()) || BN_is_one(ToBn(c).get())) {
        ERR_clear_error();
        break;
      }
      MpModInverse(a.data(), b.data(), c.data(), n);
      Same(expected, a.data(), n, "inverse");
      break;
    }
    case 9: {  // greatest common divisor
      const uint32_t n = Count(in, MP_MAX_DIGITS);
      Number b = Operand(in, n, Count(in, n)), c = Operand(in, n, Count(in, n)), a(n);
      Bn expected = NewBn();
      BN_gcd(expected.get(), ToBn(b).get(), ToBn(c).get(), ctx);
      MpGcd(a.data(), b.data(), c.data(), n);
      Same(expected, a.data(), n, "gcd");
      break;
    }
    case 10: {  // comparison, digit count, byte encoding
      const uint32_t n = Count(in, MP_MAX_DIGITS);
      Number b = Operand(in, n, Count(in, n)), c = Operand(in, n, Count(in, n));
      const int cmp = BN_cmp(ToBn(b).get(), ToBn(c).get());
      Check(MpCompare(b.data(), c.data(), n) == (cmp > 0) - (cmp < 0), "compare");
      const Bn bb = ToBn(b);
      Check(MpDigitCount(b.data(), n) == static_cast<uint32_t>((BN_num_bits(bb.get()) + 31) / 32),
            "digit count");
      const uint32_t length = in.Byte() % (4 * n + 8);
      std::vector<uint8_t> bytes(length + 1, 0xA5);
      MpEncode(bytes.data(), length, b.data(), n);
      Check(bytes[length] == 0xA5, "encode wrote past the length");
      Number back(n, 0xA5A5A5A5);
      MpDecode(back.data(), n, bytes.data(), length);
      Bn truncated(BN_dup(bb.get()));
      BN_mask_bits(truncated.get(), static_cast<int>(8 * length));
      Same(truncated, back.data(), n, "encode then decode");
      break;
    }
    default: {  // the one-digit primitives
      const MpDigit b1 = in.U32(), b0 = in.U32();
      MpDigit c = in.U32();
      MpDigit product[2];
      DigitMul(product, b0, c);
      const uint64_t p = uint64_t{b0} * c;
      Check(product[0] == static_cast<MpDigit>(p) && product[1] == p >> 32, "digit product");
      if (c == 0) c = 1;
      const MpDigit high = b1 % c;
      const uint64_t num = (uint64_t{high} << 32) | b0;
      Check(DigitDiv(high, b0, c) == num / c, "digit quotient");
      Check(DigitBitLength(c) == static_cast<uint32_t>(32 - __builtin_clz(c)), "bit length");
      break;
    }
  }
  return 0;
}
