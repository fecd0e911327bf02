// Montgomery arithmetic modulo an odd number of up to MP_MAX_DIGITS digits.
//
// Limbs are 64 bits where the compiler offers a 128-bit product type and 32
// bits elsewhere (i686, or MARLINOK_MP_NARROW_LIMBS to test that path), so
// the same code serves both. With N limbs and
// R = 2^(limb bits * N), a number x < m is held as x * R mod m; products are
// reduced with REDC, and every result is fully reduced (below m) by one
// subtraction chosen with a mask, not a branch.
#ifndef MARLINOK_MP_MONTGOMERY_H
#define MARLINOK_MP_MONTGOMERY_H

#include <cstdint>

#include "mp/mp.h"

namespace marlinok::mp::detail {

#if defined(__SIZEOF_INT128__) && !defined(MARLINOK_MP_NARROW_LIMBS)
using Limb = uint64_t;
__extension__ typedef unsigned __int128 WideLimb;
#else
using Limb = uint32_t;
using WideLimb = uint64_t;
#endif
constexpr uint32_t kLimbBits = 8 * sizeof(Limb);
constexpr uint32_t kDigitsPerLimb = kLimbBits / 32;
constexpr uint32_t kMaxLimbs = (MP_MAX_DIGITS + kDigitsPerLimb - 1) / kDigitsPerLimb;

// x86-64 has kernels of its own for processors with BMI2 and ADX, chosen at
// run time (montgomery_adx.cpp).
#if defined(__x86_64__) && defined(__GNUC__) && defined(__SIZEOF_INT128__) && \
    !defined(MARLINOK_MP_NARROW_LIMBS)
#define MARLINOK_MP_ADX 1
#else
#define MARLINOK_MP_ADX 0
#endif

// The AVX-512 IFMA exponentiation (montgomery_ifma.cpp) is left out of the
// Windows build, whose compiler cannot keep the stack aligned for spilled
// 512-bit registers.
#if MARLINOK_MP_ADX && !defined(_WIN32)
#define MARLINOK_MP_IFMA 1
#else
#define MARLINOK_MP_IFMA 0
#endif

// The modulus with its constants and the products' scratch; wiped by whoever
// owns it.
struct Montgomery {
  Limb m[kMaxLimbs];
  Limb one[kMaxLimbs];  // R mod m, the Montgomery form of 1
  Limb rr[kMaxLimbs];   // R^2 mod m, the form of R; set by the first MontgomeryEnter
  Limb minv;            // -m^-1 mod 2^kLimbBits
  Limb minv_hi;         // the next limb of -m^-1 mod 2^(2 kLimbBits)
  uint32_t n;           // limbs
  bool adx;             // the BMI2/ADX kernels serve this context
  bool has_rr;
  Limb scratch[2 * kMaxLimbs + 2];
  Limb diff[kMaxLimbs];
};

// Sets up for the odd modulus d of dd significant digits, d > 1. No division:
// R mod m is 2^bits - m doubled up to R. A public modulus (an RSA public key's)
// takes its constants from a small process-wide cache, and leaves them there.
void MontgomeryInit(Montgomery* ctx, const MpDigit* d, uint32_t dd,
                    bool public_modulus = false) noexcept;
// out = b * R mod m for any b of bn digits (b need not be below m): one
// product with R^2 mod m, after a division only when b has more limbs than m.
void MontgomeryEnter(Limb* out, const MpDigit* b, uint32_t bn, Montgomery* ctx) noexcept;
// a (dd digits) = x * R^-1 mod m.
void MontgomeryLeave(MpDigit* a, uint32_t dd, const Limb* x, Montgomery* ctx) noexcept;
// r = x * y * R^-1 mod m for y < m and x < R (any n limbs), so that
// x * y < m * R and one subtraction brings the result below m; r may be x or y.
void MontgomeryMul(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) noexcept;
// r = x^2 * R^-1 mod m; x < m; r may be x.
void MontgomerySqr(Limb* r, const Limb* x, Montgomery* ctx) noexcept;
// r = 2x mod m; x < m; r may be x.
void MontgomeryDouble(Limb* r, const Limb* x, Montgomery* ctx) noexcept;
// r = p * R^-1 mod m for the 2n-limb p < m * R, which it overwrites; r may be p.
void MontgomeryReduce(Limb* r, Limb* p, Montgomery* ctx) noexcept;

// The process-wide cache of constants derived from public moduli: values of
// up to kPublicCacheBytes bytes, keyed by a kind (which constants) and the
// modulus. Safe under threads. Nothing secret may be stored: the entries are
// never wiped.
constexpr uint32_t kPublicCacheBytes = 832;
enum class PublicConstants : uint32_t { kMontgomery = 1, kIfma = 2 };
// Copies the value into out and returns true when the cache holds it.
bool PublicCacheLoad(PublicConstants kind, const MpDigit* d, uint32_t dd, void* out,
                     uint32_t size) noexcept;
// Keeps a copy of the value (replacing the oldest entry when full).
void PublicCacheStore(PublicConstants kind, const MpDigit* d, uint32_t dd, const void* value,
                      uint32_t size) noexcept;

// The kernels of the exponentiation, slowest first: the portable C++ ones,
// the x86-64 BMI2/ADX ones (mulx, adcx, adox) and the AVX-512 IFMA one.
enum class Kernel : uint32_t { kPortable = 0, kAdx = 1, kIfma = 2 };

// Lets every later exponentiation use kernels up to `ceiling` only (kIfma,
// the default, lets it pick the fastest the processor runs); for the tests
// and the benchmark, which compare them.
void MontgomeryLimitKernel(Kernel ceiling) noexcept;
// The fastest kernel the processor runs within the current limit.
Kernel MontgomeryKernel() noexcept;
// "portable", "adx" or "ifma".
const char* KernelName(Kernel kernel) noexcept;

#if MARLINOK_MP_ADX
// montgomery_adx.cpp: the processor has BMI2 and ADX; the kernels below may
// only be called when it has.
bool AdxSupported() noexcept;
void AdxMontgomeryMul(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) noexcept;
void AdxMontgomerySqr(Limb* r, const Limb* x, Montgomery* ctx) noexcept;
// r = p * R^-1 mod m for the 2n-limb p < m * R, which it overwrites.
void AdxMontgomeryReduce(Limb* r, Limb* p, Montgomery* ctx) noexcept;
#endif

#if MARLINOK_MP_IFMA
// montgomery_ifma.cpp: the processor has AVX-512 F, VL, BW and IFMA.
bool IfmaSupported() noexcept;
// The IFMA path is supported and within the limit.
bool IfmaChosen() noexcept;
// a (dd digits) = b^c mod d as MontgomeryModExp states it, on the IFMA path;
// false, with nothing written, when the path is not chosen or does not serve
// a modulus of this length (256 to 2078 bits).
bool IfmaModExp(MpDigit* a, const MpDigit* b, uint32_t bn, const MpDigit* c, uint32_t ce,
                const MpDigit* d, uint32_t dd, bool public_modulus = false) noexcept;
// a1 = b1^c1 mod d1 and a2 = b2^c2 mod d2 in one interleaved pass, for two
// moduli of the same 52-bit limb count (the two halves of an RSA private
// operation); b1 and b2 have bn digits, c1 and c2 are nonzero. False, with
// nothing written, where IfmaModExp would refuse either or the lengths differ.
bool IfmaModExp2(MpDigit* a1, const MpDigit* b1, const MpDigit* c1, uint32_t ce1, const MpDigit* d1,
                 uint32_t dd1, MpDigit* a2, const MpDigit* b2, const MpDigit* c2, uint32_t ce2,
                 const MpDigit* d2, uint32_t dd2, uint32_t bn) noexcept;
#endif

}  // namespace marlinok::mp::detail

#endif
