// Multi-precision arithmetic of the RSA engine and the probable-prime search.
//
// A number is an array of 32-bit MpDigits, least significant digit first, and
// every call is given the digit count it reads and writes; digits above the
// count are neither read nor written, and leading zero digits are allowed.
// Numbers the RSA code keeps hold at most MP_MAX_DIGITS = 65 digits (2048 bits
// plus one spare digit); double-length products hold 130. Nothing allocates
// from the heap, and every scratch number is wiped (SecureWipe) before a call
// returns. Outputs may be the same arrays as inputs. Preconditions (nonzero
// divisor, counts within capacity, gcd 1 for an inverse) are the caller's duty.
#ifndef MARLINOK_MP_MP_H
#define MARLINOK_MP_MP_H

#include <cstdint>

#include "core/status.h"
#include "random/random_pool.h"

namespace marlinok::mp {

using MpDigit = uint32_t;
constexpr uint32_t MP_MAX_DIGITS = 65;
constexpr uint32_t kMpDoubleDigits = 2 * MP_MAX_DIGITS;

// Big-endian bytes -> n digits; excess leading bytes are dropped, a short
// string is zero-extended.
void MpDecode(MpDigit* a, uint32_t n, const uint8_t* bytes, uint32_t length) noexcept;
// n digits -> exactly `length` big-endian bytes: the low `length` bytes of a,
// zero bytes in front when a is shorter.
void MpEncode(uint8_t* bytes, uint32_t length, const MpDigit* a, uint32_t n) noexcept;

void MpAssign(MpDigit* a, const MpDigit* b, uint32_t n) noexcept;
void MpAssignZero(MpDigit* a, uint32_t n) noexcept;
// a = v over n digits (nothing is written for n = 0).
void MpAssignDigit(MpDigit* a, MpDigit v, uint32_t n) noexcept;
// a = 2^k; 0 when k >= 32n.
void MpAssignPow2(MpDigit* a, uint32_t k, uint32_t n) noexcept;

// a = b + c mod 2^(32n); returns the carry out.
MpDigit MpAdd(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept;
// a = b - c mod 2^(32n); returns the borrow out.
MpDigit MpSub(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept;
// a (2n digits) = b * c; n <= 65.
void MpMul(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept;

// a = b * 2^k mod 2^(32n); returns the bits shifted out of the top digit.
// For k >= 32 nothing is written and 0 is returned.
MpDigit MpShiftLeft(MpDigit* a, const MpDigit* b, uint32_t k, uint32_t n) noexcept;
// a = b div 2^k; returns the bits shifted out of the bottom, at the top of a
// digit. For k >= 32 nothing is written and 0 is returned.
MpDigit MpShiftRight(MpDigit* a, const MpDigit* b, uint32_t k, uint32_t n) noexcept;

// q (cn digits) = c div d, r (dn digits) = c mod d; cn <= 130, dn <= 65.
// A zero divisor writes nothing.
void MpDivMod(MpDigit* q, MpDigit* r, const MpDigit* c, uint32_t cn, const MpDigit* d,
              uint32_t dn) noexcept;
// r (dn digits) = c mod d; a zero divisor writes nothing.
void MpMod(MpDigit* r, const MpDigit* c, uint32_t cn, const MpDigit* d, uint32_t dn) noexcept;
// a = b * c mod d, all n digits; a zero d writes nothing.
void MpModMul(MpDigit* a, const MpDigit* b, const MpDigit* c, const MpDigit* d,
              uint32_t n) noexcept;
// a = b^c mod d; c has cn digits, b, d and a have dn digits. b need not be
// below d. A zero exponent gives 1, and so does a zero modulus.
void MpModExp(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t cn, const MpDigit* d,
              uint32_t dn) noexcept;
// MpModExp for a modulus that is public (an RSA public key's): its Montgomery
// constants are kept in a small process-wide cache keyed by the modulus, so
// that repeated operations with one key skip their set-up. Never for a secret
// modulus (a prime).
void MpModExpPublic(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t cn, const MpDigit* d,
                    uint32_t dn) noexcept;
// a1 = b1^c1 mod d1 and a2 = b2^c2 mod d2, all of n digits, each as MpModExp
// gives it (the two halves of an RSA private operation). Where the processor
// has AVX-512 IFMA and the moduli are odd and of one length, the two powers
// run interleaved in one pass. a1 and a2 are distinct from each other and
// from the other operation's inputs.
void MpModExp2(MpDigit* a1, const MpDigit* b1, const MpDigit* c1, const MpDigit* d1, MpDigit* a2,
               const MpDigit* b2, const MpDigit* c2, const MpDigit* d2, uint32_t n) noexcept;
// a = b^-1 mod c in [0, c), for gcd(b, c) = 1 (extended Euclid).
void MpModInverse(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept;
// a = gcd(b, c).
void MpGcd(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept;

// +1, -1 or 0 as b >, <, == c over the low n digits.
int MpCompare(const MpDigit* b, const MpDigit* c, uint32_t n) noexcept;
// 1 when all n digits are zero (also for n = 0), else 0.
int MpIsZero(const MpDigit* a, uint32_t n) noexcept;
// Index of the highest nonzero digit plus one; 0 for zero.
uint32_t MpDigitCount(const MpDigit* a, uint32_t n) noexcept;

// Draws 4n bytes from the pool, maps them into [low, high], makes the value
// congruent to 1 mod step and walks up by step until IsProbablePrime holds.
// Ok with the prime in a; the pool's NeedSeed; or DataRange when the walk
// would pass high - step (also for a zero step). On failure a is unwritten.
Status FindProbablePrime(MpDigit* a, const MpDigit* low, const MpDigit* high, const MpDigit* step,
                         uint32_t n, RandomPool* pool) noexcept;

// ---- Internal operations (exposed for the prime search and the tests) ----

// a (n digits) += c * d; returns the carry digit. Nothing happens for c = 0.
MpDigit MpAddDigitMul(MpDigit* a, MpDigit c, const MpDigit* d, uint32_t n) noexcept;
// a (n digits) -= c * d; returns the borrow digit. Nothing happens for c = 0.
MpDigit MpSubDigitMul(MpDigit* a, MpDigit c, const MpDigit* d, uint32_t n) noexcept;
// out[0] (low), out[1] (high) = b * c.
void DigitMul(MpDigit out[2], MpDigit b, MpDigit c) noexcept;
// floor((b1 * 2^32 + b0) / c) for b1 < c.
MpDigit DigitDiv(MpDigit b1, MpDigit b0, MpDigit c) noexcept;
// Significant bits of one digit, 0 for 0.
uint32_t DigitBitLength(MpDigit a) noexcept;

// Divisible by 3, 5, 7 or 11 (tried in that order); a one-digit number equal to
// the prime tried counts as having no small factor.
bool HasSmallFactor(const MpDigit* a, uint32_t n) noexcept;
// 2^a mod a == 2 (the exponent is a itself).
bool PassesFermatBase2(const MpDigit* a, uint32_t n) noexcept;
bool IsProbablePrime(const MpDigit* a, uint32_t n) noexcept;

}  // namespace marlinok::mp

#endif
