// Montgomery multiplication (CIOS), squaring (half the cross products, then
// REDC) and the conversions into and out of Montgomery form.
#include "rsa/montgomery.h"

#include "frame/wipe.h"
#include "rsa/mp_internal.h"

namespace marlinok::rsa::detail {

namespace {

inline Limb Low(WideLimb w) { return static_cast<Limb>(w); }
inline Limb High(WideLimb w) { return static_cast<Limb>(w >> kLimbBits); }

void PackLimbs(Limb* out, uint32_t limbs, const MpDigit* a, uint32_t n) {
  for (uint32_t i = 0; i < limbs; ++i) {
    Limb limb = 0;
    for (uint32_t k = 0; k < kDigitsPerLimb; ++k) {
      const uint32_t digit = i * kDigitsPerLimb + k;
      if (digit < n) limb |= static_cast<Limb>(a[digit]) << (32 * k);
    }
    out[i] = limb;
  }
}

// r = t - m when (top, t) >= m, else t, for (top, t) < 2m; top is 0 or 1.
// The choice is made with a mask so that it does not depend on a branch.
void SubtractOnce(Limb* r, const Limb* t, Limb top, Montgomery* ctx) {
  const uint32_t n = ctx->n;
  Limb* diff = ctx->diff;
  Limb borrow = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Limb x = t[i];
    const Limb y = ctx->m[i];
    const Limb d = x - y - borrow;
    borrow = static_cast<Limb>((x < y) | ((x == y) & borrow));
    diff[i] = d;
  }
  // The subtraction stands when it did not go below zero, counting top.
  const Limb keep_diff = static_cast<Limb>(0) - static_cast<Limb>(1 ^ (top ^ borrow));
  for (uint32_t i = 0; i < n; ++i) r[i] = (diff[i] & keep_diff) | (t[i] & ~keep_diff);
}

// REDC of the 2n-limb number p (< m * R): r = p * R^-1 mod m.
void Reduce(Limb* r, Limb* p, Montgomery* ctx) {
  const uint32_t n = ctx->n;
  const Limb* m = ctx->m;
  Limb top = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Limb u = p[i] * ctx->minv;
    Limb carry = 0;
    Limb* row = p + i;
    for (uint32_t j = 0; j < n; ++j) {
      const WideLimb w = static_cast<WideLimb>(u) * m[j] + row[j] + carry;
      row[j] = Low(w);
      carry = High(w);
    }
    const WideLimb w = static_cast<WideLimb>(row[n]) + carry + top;
    row[n] = Low(w);
    top = High(w);
  }
  SubtractOnce(r, p + n, top, ctx);
}

}  // namespace

void MontgomeryInit(Montgomery* ctx, const MpDigit* d, uint32_t dd) noexcept {
  const uint32_t n = (dd + kDigitsPerLimb - 1) / kDigitsPerLimb;
  ctx->n = n;
  PackLimbs(ctx->m, n, d, dd);
  // Newton's iteration doubles the correct low bits of m^-1 each round,
  // starting from 3 (m * m = 1 mod 8 for odd m).
  const Limb m0 = ctx->m[0];
  Limb inv = m0;
  for (int i = 0; i < 5; ++i) inv *= static_cast<Limb>(2) - m0 * inv;
  ctx->minv = static_cast<Limb>(0) - inv;
  const MpDigit one = 1;
  MontgomeryEnter(ctx->one, &one, 1, ctx);
}

void MontgomeryEnter(Limb* out, const MpDigit* b, uint32_t bn, Montgomery* ctx) noexcept {
  // b * R has bn + n * kDigitsPerLimb <= 131 digits; one division reduces it.
  MpDigit wide[kWideDigits];
  MpDigit rest[MP_MAX_DIGITS + 1];
  const uint32_t shift = ctx->n * kDigitsPerLimb;
  MpAssignZero(wide, shift);
  MpAssign(wide + shift, b, bn);
  MpDigit mdigits[MP_MAX_DIGITS + 1];
  for (uint32_t i = 0; i < shift; ++i) {
    mdigits[i] = static_cast<MpDigit>(ctx->m[i / kDigitsPerLimb] >> (32 * (i % kDigitsPerLimb)));
  }
  const uint32_t dd = MpDigitCount(mdigits, shift);
  DivModCore(nullptr, rest, wide, shift + bn, mdigits, dd);
  PackLimbs(out, ctx->n, rest, dd);
  SecureWipe(wide, sizeof wide);
  SecureWipe(rest, sizeof rest);
}

void MontgomeryLeave(MpDigit* a, uint32_t dd, const Limb* x, Montgomery* ctx) noexcept {
  const uint32_t n = ctx->n;
  Limb* p = ctx->scratch;
  for (uint32_t i = 0; i < n; ++i) {
    p[i] = x[i];
    p[n + i] = 0;
  }
  Reduce(p, p, ctx);
  for (uint32_t i = 0; i < dd; ++i) {
    a[i] = static_cast<MpDigit>(p[i / kDigitsPerLimb] >> (32 * (i % kDigitsPerLimb)));
  }
}

void MontgomeryMul(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) noexcept {
  const uint32_t n = ctx->n;
  const Limb* m = ctx->m;
  const Limb minv = ctx->minv;
  Limb* t = ctx->scratch;  // n + 2 limbs
  for (uint32_t i = 0; i < n + 2; ++i) t[i] = 0;
  for (uint32_t i = 0; i < n; ++i) {
    // t += x * y[i]
    const Limb yi = y[i];
    Limb carry = 0;
    for (uint32_t j = 0; j < n; ++j) {
      const WideLimb w = static_cast<WideLimb>(x[j]) * yi + t[j] + carry;
      t[j] = Low(w);
      carry = High(w);
    }
    WideLimb w = static_cast<WideLimb>(t[n]) + carry;
    t[n] = Low(w);
    t[n + 1] = High(w);
    // t = (t + u * m) / 2^kLimbBits, with u chosen to clear the low limb
    const Limb u = t[0] * minv;
    w = static_cast<WideLimb>(u) * m[0] + t[0];
    carry = High(w);
    for (uint32_t j = 1; j < n; ++j) {
      w = static_cast<WideLimb>(u) * m[j] + t[j] + carry;
      t[j - 1] = Low(w);
      carry = High(w);
    }
    w = static_cast<WideLimb>(t[n]) + carry;
    t[n - 1] = Low(w);
    t[n] = t[n + 1] + High(w);
  }
  SubtractOnce(r, t, t[n], ctx);
}

void MontgomerySqr(Limb* r, const Limb* x, Montgomery* ctx) noexcept {
  const uint32_t n = ctx->n;
  Limb* p = ctx->scratch;  // 2n limbs
  for (uint32_t i = 0; i < 2 * n; ++i) p[i] = 0;
  // Cross products x[i] * x[j], i < j.
  for (uint32_t i = 0; i + 1 < n; ++i) {
    const Limb xi = x[i];
    Limb carry = 0;
    for (uint32_t j = i + 1; j < n; ++j) {
      const WideLimb w = static_cast<WideLimb>(xi) * x[j] + p[i + j] + carry;
      p[i + j] = Low(w);
      carry = High(w);
    }
    p[i + n] = carry;
  }
  // Double them and add the squares x[i]^2.
  Limb shifted_out = 0;
  Limb carry = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const WideLimb sq = static_cast<WideLimb>(x[i]) * x[i];
    const Limb lo = p[2 * i];
    const Limb hi = p[2 * i + 1];
    const Limb lo2 = (lo << 1) | shifted_out;
    const Limb hi2 = (hi << 1) | (lo >> (kLimbBits - 1));
    shifted_out = hi >> (kLimbBits - 1);
    WideLimb w = static_cast<WideLimb>(lo2) + Low(sq) + carry;
    p[2 * i] = Low(w);
    w = static_cast<WideLimb>(hi2) + High(sq) + High(w);
    p[2 * i + 1] = Low(w);
    carry = High(w);
  }
  Reduce(r, p, ctx);
}

void MontgomeryDouble(Limb* r, const Limb* x, Montgomery* ctx) noexcept {
  const uint32_t n = ctx->n;
  Limb* t = ctx->scratch;
  Limb top = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Limb v = x[i];
    t[i] = (v << 1) | top;
    top = v >> (kLimbBits - 1);
  }
  SubtractOnce(r, t, top, ctx);
}

}  // namespace marlinok::rsa::detail
