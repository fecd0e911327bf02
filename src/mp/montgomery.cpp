// Montgomery multiplication and squaring by columns (the square counts each
// cross product once, doubled), and the conversions into and out of
// Montgomery form.
#include "mp/montgomery.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "core/wipe.h"
#include "mp/mp_internal.h"

namespace marlinok::mp::detail {

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

// The kernels below take the limb count as a template argument where it is one
// of the common sizes (256 to 2048 bits), so that the compiler can specialise
// the loops for it; kFixed = 0 reads it from the context.
template <uint32_t kFixed>
inline uint32_t Limbs(const Montgomery* ctx) {
  return kFixed != 0 ? kFixed : ctx->n;
}

// r[0..n) += a[0..n) * b; returns the carry limb. The building block of every
// product below: one multiply-accumulate chain the compiler keeps in registers.
inline Limb MulAddRow(Limb* r, const Limb* a, uint32_t n, Limb b) {
  Limb carry = 0;
#pragma GCC unroll 4
  for (uint32_t j = 0; j < n; ++j) {
    const WideLimb w = static_cast<WideLimb>(a[j]) * b + r[j] + carry;
    r[j] = Low(w);
    carry = High(w);
  }
  return carry;
}

// r = t - m when (top, t) >= m, else t, for (top, t) < 2m; top is 0 or 1.
// The choice is made with a mask so that it does not depend on a branch.
template <uint32_t kFixed>
inline void SubtractOnce(Limb* r, const Limb* t, Limb top, Montgomery* ctx) {
  const uint32_t n = Limbs<kFixed>(ctx);
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

// REDC of the 2n-limb number p (< m * R): r = p * R^-1 mod m. Row i adds
// u * m with u chosen to clear limb i; the carries beyond the row's end
// collect in `top`.
template <uint32_t kFixed>
void Reduce(Limb* r, Limb* p, Montgomery* ctx) {
  const uint32_t n = Limbs<kFixed>(ctx);
  const Limb minv = ctx->minv;
  Limb top = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Limb carry = MulAddRow(p + i, ctx->m, n, p[i] * minv);
    const WideLimb w = static_cast<WideLimb>(p[i + n]) + carry + top;
    p[i + n] = Low(w);
    top = High(w);
  }
  SubtractOnce<kFixed>(r, p + n, top, ctx);
}

// (c2, c1, c0) += a * b, a three-limb column accumulator. On x86-64 the
// multiply and the carry chain are written out, since compilers spill the
// 128-bit temporaries of the portable form.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__SIZEOF_INT128__) && \
    !defined(MARLINOK_MP_NARROW_LIMBS)
inline void MulAcc(Limb& c0, Limb& c1, Limb& c2, Limb a, Limb b) {
  Limb high;
  __asm__(
      "mulq %[b]\n\t"
      "addq %%rax, %[c0]\n\t"
      "adcq %%rdx, %[c1]\n\t"
      "adcq $0, %[c2]"
      : [c0] "+r"(c0), [c1] "+r"(c1), [c2] "+r"(c2), "+a"(a), "=d"(high)
      : [b] "rm"(b)
      : "cc");
}
// (c2, c1, c0) += 2 * a * b
inline void MulAcc2(Limb& c0, Limb& c1, Limb& c2, Limb a, Limb b) {
  Limb high;
  __asm__(
      "mulq %[b]\n\t"
      "addq %%rax, %[c0]\n\t"
      "adcq %%rdx, %[c1]\n\t"
      "adcq $0, %[c2]\n\t"
      "addq %%rax, %[c0]\n\t"
      "adcq %%rdx, %[c1]\n\t"
      "adcq $0, %[c2]"
      : [c0] "+r"(c0), [c1] "+r"(c1), [c2] "+r"(c2), "+a"(a), "=d"(high)
      : [b] "rm"(b)
      : "cc");
}
#else
inline void MulAcc(Limb& c0, Limb& c1, Limb& c2, Limb a, Limb b) {
  const WideLimb product = static_cast<WideLimb>(a) * b;
  WideLimb s = static_cast<WideLimb>(c0) + Low(product);
  c0 = Low(s);
  s = static_cast<WideLimb>(c1) + High(product) + High(s);
  c1 = Low(s);
  c2 += High(s);
}
inline void MulAcc2(Limb& c0, Limb& c1, Limb& c2, Limb a, Limb b) {
  MulAcc(c0, c1, c2, a, b);
  MulAcc(c0, c1, c2, a, b);
}
#endif

// Montgomery product by columns (product scanning): column k gathers
// x[i] * y[k - i] and u[i] * m[k - i]; in the low n columns u[k] is chosen to
// clear the column, the high columns are the result. A column sum stays below
// 2n * 2^(2 * kLimbBits), so three limbs hold it. `square` takes y = x and
// counts each cross product twice.
template <uint32_t kFixed, bool kSquare>
void ColumnKernel(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) {
  const uint32_t n = Limbs<kFixed>(ctx);
  const Limb* m = ctx->m;
  const Limb minv = ctx->minv;
  Limb* u = ctx->scratch;      // n limbs
  Limb* t = ctx->scratch + n;  // n limbs
  Limb c0 = 0, c1 = 0, c2 = 0;
#pragma GCC unroll 16
  for (uint32_t k = 0; k < n; ++k) {
    if (kSquare) {
      uint32_t i = 0;
#pragma GCC unroll 16
      for (; 2 * i < k; ++i) MulAcc2(c0, c1, c2, x[i], x[k - i]);
      if (2 * i == k) MulAcc(c0, c1, c2, x[i], x[i]);
    } else {
#pragma GCC unroll 16
      for (uint32_t i = 0; i <= k; ++i) MulAcc(c0, c1, c2, x[i], y[k - i]);
    }
#pragma GCC unroll 16
    for (uint32_t i = 0; i < k; ++i) MulAcc(c0, c1, c2, u[i], m[k - i]);
    const Limb uk = c0 * minv;
    u[k] = uk;
    MulAcc(c0, c1, c2, uk, m[0]);  // clears c0
    c0 = c1;
    c1 = c2;
    c2 = 0;
  }
#pragma GCC unroll 16
  for (uint32_t k = n; k < 2 * n - 1; ++k) {
    if (kSquare) {
      uint32_t i = k - n + 1;
#pragma GCC unroll 16
      for (; 2 * i < k; ++i) MulAcc2(c0, c1, c2, x[i], x[k - i]);
      if (2 * i == k) MulAcc(c0, c1, c2, x[i], x[i]);
    } else {
#pragma GCC unroll 16
      for (uint32_t i = k - n + 1; i < n; ++i) MulAcc(c0, c1, c2, x[i], y[k - i]);
    }
#pragma GCC unroll 16
    for (uint32_t i = k - n + 1; i < n; ++i) MulAcc(c0, c1, c2, u[i], m[k - i]);
    t[k - n] = c0;
    c0 = c1;
    c1 = c2;
    c2 = 0;
  }
  t[n - 1] = c0;
  // The result (c1, t) is below 2m.
  SubtractOnce<kFixed>(r, t, c1, ctx);
}

template <uint32_t kFixed>
void MulKernel(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) {
  ColumnKernel<kFixed, false>(r, x, y, ctx);
}

template <uint32_t kFixed>
void SqrKernel(Limb* r, const Limb* x, Montgomery* ctx) {
  ColumnKernel<kFixed, true>(r, x, x, ctx);
}

template <uint32_t kFixed>
void DoubleKernel(Limb* r, const Limb* x, Montgomery* ctx) {
  const uint32_t n = Limbs<kFixed>(ctx);
  Limb* t = ctx->scratch;
  Limb top = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Limb v = x[i];
    t[i] = (v << 1) | top;
    top = v >> (kLimbBits - 1);
  }
  SubtractOnce<kFixed>(r, t, top, ctx);
}

// Limb counts of 256-, 512- and 1024-bit moduli (the primes of 512- to
// 2048-bit keys) get kernels of their own; fully unrolled, larger ones would
// outgrow the instruction cache.
constexpr uint32_t kSizes[] = {256 / kLimbBits, 512 / kLimbBits, 1024 / kLimbBits};

std::atomic<uint32_t> kernel_limit{static_cast<uint32_t>(Kernel::kIfma)};

[[maybe_unused]] bool Allowed(Kernel kernel) {
  return static_cast<uint32_t>(kernel) <= kernel_limit.load(std::memory_order_relaxed);
}

bool UseAdx() {
#if MARLINOK_MP_ADX
  static const bool supported = AdxSupported();
  return supported && Allowed(Kernel::kAdx);
#else
  return false;
#endif
}

}  // namespace

void MontgomeryLimitKernel(Kernel ceiling) noexcept {
  kernel_limit.store(static_cast<uint32_t>(ceiling), std::memory_order_relaxed);
}

#if MARLINOK_MP_IFMA
bool IfmaChosen() noexcept {
  static const bool supported = IfmaSupported();
  return supported && Allowed(Kernel::kIfma);
}
#endif

Kernel MontgomeryKernel() noexcept {
#if MARLINOK_MP_IFMA
  if (IfmaChosen()) return Kernel::kIfma;
#endif
  return UseAdx() ? Kernel::kAdx : Kernel::kPortable;
}

const char* KernelName(Kernel kernel) noexcept {
  switch (kernel) {
    case Kernel::kIfma:
      return "ifma";
    case Kernel::kAdx:
      return "adx";
    default:
      return "portable";
  }
}

namespace {

// The constants a public modulus leaves in the cache.
struct CachedConstants {
  Limb m[kMaxLimbs];
  Limb one[kMaxLimbs];
  Limb rr[kMaxLimbs];
  Limb minv;
  Limb minv_hi;
  uint32_t n;
};
static_assert(sizeof(CachedConstants) <= kPublicCacheBytes, "the cache holds the constants");

void ComputeRR(Montgomery* ctx);

}  // namespace

void MontgomeryInit(Montgomery* ctx, const MpDigit* d, uint32_t dd, bool public_modulus) noexcept {
  ctx->adx = UseAdx();
  if (public_modulus) {
    CachedConstants cached;
    if (PublicCacheLoad(PublicConstants::kMontgomery, d, dd, &cached, sizeof cached)) {
      const uint32_t n = cached.n;
      ctx->n = n;
      ctx->minv = cached.minv;
      ctx->minv_hi = cached.minv_hi;
      for (uint32_t i = 0; i < n; ++i) {
        ctx->m[i] = cached.m[i];
        ctx->one[i] = cached.one[i];
        ctx->rr[i] = cached.rr[i];
      }
      ctx->has_rr = true;
      return;
    }
  }
  const uint32_t n = (dd + kDigitsPerLimb - 1) / kDigitsPerLimb;
  ctx->n = n;
  ctx->has_rr = false;
  PackLimbs(ctx->m, n, d, dd);
  // Newton's iteration doubles the correct low bits of m^-1 each round,
  // starting from 3 (m * m = 1 mod 8 for odd m).
  const Limb m0 = ctx->m[0];
  Limb inv = m0;
  for (int i = 0; i < 5; ++i) inv *= static_cast<Limb>(2) - m0 * inv;
  ctx->minv = static_cast<Limb>(0) - inv;
  // One more round on the two low limbs gives m^-1 mod 2^(2 kLimbBits), from
  // which a reduction forms two rows' multipliers at once.
  const WideLimb m01 = static_cast<WideLimb>(n > 1 ? ctx->m[1] : 0) << kLimbBits | m0;
  const WideLimb inv2 = static_cast<WideLimb>(inv) * (static_cast<WideLimb>(2) - m01 * inv);
  ctx->minv_hi = static_cast<Limb>((static_cast<WideLimb>(0) - inv2) >> kLimbBits);
  // R mod m. With 2^(bits - 1) < m < 2^bits (m is odd), 2^bits mod m is
  // 2^bits - m, the low `bits` bits of -m; R = 2^bits * 2^(limb bits * n - bits)
  // takes that many doublings more (fewer than kLimbBits).
  const uint32_t bits = BitLength(d, dd);
  Limb borrow = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Limb v = ctx->m[i];
    ctx->one[i] = static_cast<Limb>(0) - v - borrow;
    borrow |= static_cast<Limb>(v != 0);
  }
  const uint32_t top_bits = bits - kLimbBits * (n - 1);
  if (top_bits < kLimbBits) ctx->one[n - 1] &= (static_cast<Limb>(1) << top_bits) - 1;
  for (uint32_t k = bits; k < kLimbBits * n; ++k) MontgomeryDouble(ctx->one, ctx->one, ctx);
  if (public_modulus) {
    ComputeRR(ctx);
    CachedConstants cached;
    cached.n = n;
    cached.minv = ctx->minv;
    cached.minv_hi = ctx->minv_hi;
    for (uint32_t i = 0; i < n; ++i) {
      cached.m[i] = ctx->m[i];
      cached.one[i] = ctx->one[i];
      cached.rr[i] = ctx->rr[i];
    }
    PublicCacheStore(PublicConstants::kMontgomery, d, dd, &cached, sizeof cached);
  }
}

namespace {

// R^2 mod m = the Montgomery form of R = 2^E, E = kLimbBits * n: from the
// form of 2 (one doubling of the form of 1), the bits of E from the top, a
// squaring each (form(a)^2 = form(a^2)) and a doubling for a one bit. Nine
// squarings for 8 limbs, eleven for 32; a doubling costs far less than a
// product, so the exponent's bits are cheap.
void ComputeRR(Montgomery* ctx) {
  const uint32_t e = kLimbBits * ctx->n;
  MontgomeryDouble(ctx->rr, ctx->one, ctx);
  for (uint32_t bit = DigitBitLength(e) - 1; bit-- > 0;) {
    MontgomerySqr(ctx->rr, ctx->rr, ctx);
    if (((e >> bit) & 1) != 0) MontgomeryDouble(ctx->rr, ctx->rr, ctx);
  }
  ctx->has_rr = true;
}

}  // namespace

void MontgomeryEnter(Limb* out, const MpDigit* b, uint32_t bn, Montgomery* ctx) noexcept {
  const uint32_t n = ctx->n;
  if (!ctx->has_rr) ComputeRR(ctx);
  Limb x[kMaxLimbs];
  const uint32_t bd = MpDigitCount(b, bn);
  if (bd <= n * kDigitsPerLimb) {
    PackLimbs(x, n, b, bd);
  } else {
    // Longer than m: b mod m first, by one division.
    MpDigit mdigits[MP_MAX_DIGITS + 1];
    MpDigit rest[MP_MAX_DIGITS + 1];
    const uint32_t shift = n * kDigitsPerLimb;
    for (uint32_t i = 0; i < shift; ++i) {
      mdigits[i] = static_cast<MpDigit>(ctx->m[i / kDigitsPerLimb] >> (32 * (i % kDigitsPerLimb)));
    }
    const uint32_t dd = MpDigitCount(mdigits, shift);
    DivModCore(nullptr, rest, b, bd, mdigits, dd);
    PackLimbs(x, n, rest, dd);
    SecureWipe(rest, sizeof rest);
    SecureWipe(mdigits, sizeof mdigits);  // the modulus is a secret prime in the CRT step
  }
  // x < R and R^2 mod m < m: the product is x * R mod m, below m.
  MontgomeryMul(out, x, ctx->rr, ctx);
  SecureWipe(x, sizeof x);
}

void MontgomeryLeave(MpDigit* a, uint32_t dd, const Limb* x, Montgomery* ctx) noexcept {
  const uint32_t n = ctx->n;
  Limb* p = ctx->scratch;
  for (uint32_t i = 0; i < n; ++i) {
    p[i] = x[i];
    p[n + i] = 0;
  }
  MontgomeryReduce(p, p, ctx);
  for (uint32_t i = 0; i < dd; ++i) {
    a[i] = static_cast<MpDigit>(p[i / kDigitsPerLimb] >> (32 * (i % kDigitsPerLimb)));
  }
}

// ---- The public-modulus cache ----

namespace {

constexpr uint32_t kCacheEntries = 8;

struct CacheEntry {
  uint32_t kind;  // 0: empty
  uint32_t dd;
  MpDigit d[MP_MAX_DIGITS];
  alignas(8) unsigned char value[kPublicCacheBytes];
};

// The lock is held only to compare and copy a few hundred bytes.
struct PublicCache {
  std::mutex lock;
  uint32_t next = 0;  // the entry the next store replaces
  CacheEntry entries[kCacheEntries];
};

PublicCache public_cache;

CacheEntry* FindEntry(uint32_t kind, const MpDigit* d, uint32_t dd) {
  for (CacheEntry& e : public_cache.entries) {
    if (e.kind == kind && e.dd == dd && std::memcmp(e.d, d, dd * sizeof(MpDigit)) == 0) return &e;
  }
  return nullptr;
}

}  // namespace

bool PublicCacheLoad(PublicConstants kind, const MpDigit* d, uint32_t dd, void* out,
                     uint32_t size) noexcept {
  if (size > kPublicCacheBytes || dd > MP_MAX_DIGITS) return false;
  std::lock_guard<std::mutex> hold(public_cache.lock);
  const CacheEntry* e = FindEntry(static_cast<uint32_t>(kind), d, dd);
  if (e == nullptr) return false;
  std::memcpy(out, e->value, size);
  return true;
}

void PublicCacheStore(PublicConstants kind, const MpDigit* d, uint32_t dd, const void* value,
                      uint32_t size) noexcept {
  if (size > kPublicCacheBytes || dd > MP_MAX_DIGITS) return;
  std::lock_guard<std::mutex> hold(public_cache.lock);
  CacheEntry* e = FindEntry(static_cast<uint32_t>(kind), d, dd);
  if (e == nullptr) {
    e = &public_cache.entries[public_cache.next];
    public_cache.next = (public_cache.next + 1) % kCacheEntries;
  }
  e->kind = static_cast<uint32_t>(kind);
  e->dd = dd;
  std::memcpy(e->d, d, dd * sizeof(MpDigit));
  std::memcpy(e->value, value, size);
}

#define MARLINOK_MONTGOMERY_DISPATCH(kernel, ...) \
  switch (ctx->n) {                               \
    case kSizes[0]:                               \
      return kernel<kSizes[0]>(__VA_ARGS__);      \
    case kSizes[1]:                               \
      return kernel<kSizes[1]>(__VA_ARGS__);      \
    case kSizes[2]:                               \
      return kernel<kSizes[2]>(__VA_ARGS__);      \
    default:                                      \
      return kernel<0>(__VA_ARGS__);              \
  }

void MontgomeryMul(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) noexcept {
#if MARLINOK_MP_ADX
  if (ctx->adx) return AdxMontgomeryMul(r, x, y, ctx);
#endif
  MARLINOK_MONTGOMERY_DISPATCH(MulKernel, r, x, y, ctx)
}

void MontgomerySqr(Limb* r, const Limb* x, Montgomery* ctx) noexcept {
#if MARLINOK_MP_ADX
  if (ctx->adx) return AdxMontgomerySqr(r, x, ctx);
#endif
  MARLINOK_MONTGOMERY_DISPATCH(SqrKernel, r, x, ctx)
}

void MontgomeryDouble(Limb* r, const Limb* x, Montgomery* ctx) noexcept {
  MARLINOK_MONTGOMERY_DISPATCH(DoubleKernel, r, x, ctx)
}

void MontgomeryReduce(Limb* r, Limb* p, Montgomery* ctx) noexcept {
#if MARLINOK_MP_ADX
  if (ctx->adx) return AdxMontgomeryReduce(r, p, ctx);
#endif
  MARLINOK_MONTGOMERY_DISPATCH(Reduce, r, p, ctx)
}

#undef MARLINOK_MONTGOMERY_DISPATCH

}  // namespace marlinok::mp::detail
