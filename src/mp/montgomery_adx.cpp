// Montgomery multiplication and squaring for x86-64 processors with BMI2 and
// ADX: mulx leaves the flags alone, and adcx/adox carry through CF and OF
// separately, so one pass over a row adds the low halves of the products on
// one carry chain and the high halves on the other, with no flag saved or
// restored in between. The product (or square) is formed by rows into a
// double-length scratch number, then reduced row by row (REDC).
//
// A row runs fastest when its running sum is in registers, not memory, so
// the sizes RSA uses have kernels that keep eight limbs of it in a window of
// registers sliding up a limb per row:
//   8 limbs   MulKernel8 and SqrKernel8 (the product, or the square's cross
//             products, then REDC of the low half);
//   16 limbs  the square's cross products by halves (Cross16);
//   16, 32    REDC by blocks of eight rows (ReduceRowsByBlocks).
// Other sizes, and the 16- and 32-limb products, use rows in memory.
#include "mp/montgomery.h"

#if MARLINOK_MP_ADX

#include <cpuid.h>
#include <immintrin.h>

#include <cstddef>

namespace marlinok::mp::detail {

namespace {

#define MARLINOK_ADX __attribute__((target("bmi2,adx")))

// clang-format off
// One limb of a row. Adding: t[j] += lo(x * y[j]) on the CF chain and the
// previous high half `hp` on the OF chain. Setting: t[j] = lo(x * y[j]) + hp
// on the OF chain alone, t[j] unread. The new high half goes to `hn`.
#define MARLINOK_ADD_STEP(j, hn, hp)                \
  "mulxq " #j "*8(%[y]), %[lo], %[" #hn "]\n\t"     \
  "adcxq " #j "*8(%[t]), %[lo]\n\t"                 \
  "adoxq %[" #hp "], %[lo]\n\t"                     \
  "movq %[lo], " #j "*8(%[t])\n\t"
#define MARLINOK_SET_STEP(j, hn, hp)                \
  "mulxq " #j "*8(%[y]), %[lo], %[" #hn "]\n\t"     \
  "adoxq %[" #hp "], %[lo]\n\t"                     \
  "movq %[lo], " #j "*8(%[t])\n\t"
#define MARLINOK_PAIR(S, j, k) S(j, h1, h0) S(k, h0, h1)
// The first four limbs of a row; the U form also keeps limb 1 once it is
// final, from which the reduction row's tail forms the next row's multiplier
// u = t[1] * minv in a register (imul changes the flags, so it has to wait for
// the tail), sparing the next row a trip of t[1] through memory.
#define MARLINOK_QUAD(S) MARLINOK_PAIR(S, 0, 1) MARLINOK_PAIR(S, 2, 3)
#define MARLINOK_QUAD_U(S) MARLINOK_PAIR(S, 0, 1) "movq %[lo], %[u]\n\t" MARLINOK_PAIR(S, 2, 3)
#define MARLINOK_ROW_4(Q, S) Q(S)
#define MARLINOK_ROW_8(Q, S) Q(S) MARLINOK_PAIR(S, 4, 5) MARLINOK_PAIR(S, 6, 7)
#define MARLINOK_ROW_16(Q, S)                                                    \
  MARLINOK_ROW_8(Q, S) MARLINOK_PAIR(S, 8, 9) MARLINOK_PAIR(S, 10, 11)           \
  MARLINOK_PAIR(S, 12, 13) MARLINOK_PAIR(S, 14, 15)
#define MARLINOK_ROW_32(Q, S)                                                    \
  MARLINOK_ROW_16(Q, S) MARLINOK_PAIR(S, 16, 17) MARLINOK_PAIR(S, 18, 19)        \
  MARLINOK_PAIR(S, 20, 21) MARLINOK_PAIR(S, 22, 23) MARLINOK_PAIR(S, 24, 25)     \
  MARLINOK_PAIR(S, 26, 27) MARLINOK_PAIR(S, 28, 29) MARLINOK_PAIR(S, 30, 31)

// A row of any length: single limbs first, then four at a time. The loops
// count with lea and jrcxz, which leave CF and OF alone.
#define MARLINOK_LOOP_ROW(S)                                                     \
  __asm__ volatile(                                                              \
      "xorl %k[zero], %k[zero]\n\t" /* also clears CF and OF */                  \
      "xorl %k[h0], %k[h0]\n\t"                                                  \
      "jrcxz 2f\n"                                                               \
      "1:\n\t"                                                                   \
      S(0, h1, h0)                                                               \
      "movq %[h1], %[h0]\n\t"                                                    \
      "leaq 8(%[t]), %[t]\n\t"                                                   \
      "leaq 8(%[y]), %[y]\n\t"                                                   \
      "leaq -1(%%rcx), %%rcx\n\t"                                                \
      "jrcxz 2f\n\t"                                                             \
      "jmp 1b\n"                                                                 \
      "2:\n\t"                                                                   \
      "movq %[groups], %%rcx\n\t"                                                \
      "jrcxz 4f\n"                                                               \
      "3:\n\t"                                                                   \
      MARLINOK_QUAD(S)                                                           \
      "leaq 32(%[t]), %[t]\n\t"                                                  \
      "leaq 32(%[y]), %[y]\n\t"                                                  \
      "leaq -1(%%rcx), %%rcx\n\t"                                                \
      "jrcxz 4f\n\t"                                                             \
      "jmp 3b\n"                                                                 \
      "4:\n\t"                                                                   \
      "adcxq %[zero], %[h0]\n\t"                                                 \
      "adoxq %[zero], %[h0]"                                                     \
      : [t] "+&r"(t), [y] "+&r"(y), "+&c"(count), [lo] "=&r"(lo), [h0] "=&r"(h0),   \
        [h1] "=&r"(h1), [zero] "=&r"(zero)                                       \
      : [x] "d"(x), [groups] "r"(groups)                                         \
      : "cc", "memory")

// A row of a size with kernels of its own, unrolled in full.
#define MARLINOK_FIXED_ROW(kRow, tail)                                           \
  __asm__ volatile(                                                              \
      "xorl %k[zero], %k[zero]\n\t"                                              \
      "xorl %k[h0], %k[h0]\n\t"                                                  \
      kRow                                                                       \
      "adcxq %[zero], %[h0]\n\t"                                                 \
      "adoxq %[zero], %[h0]\n\t"                                                 \
      tail                                                                       \
      : [lo] "=&r"(lo), [h0] "=&r"(h0), [h1] "=&r"(h1), [zero] "=&r"(zero),      \
        [top] "+&r"(top), [u] "=&r"(u)                                           \
      : [t] "r"(t), [y] "r"(y), [x] "d"(x), [end] "i"(8 * kLen), [minv] "r"(minv) \
      : "cc", "memory")
// The carry limb to t[kLen], which a product row writes first.
#define MARLINOK_STORE_TAIL "movq %[h0], %c[end](%[t])"
// A reduction row: (top, t[kLen]) = t[kLen] + carry + top for a top of 0 or 1;
// the bit past t[kLen] waits in top for the next row.
#define MARLINOK_CARRY_TAIL                                                      \
  "negq %[top]\n\t" /* CF = top */                                               \
  "adcq %c[end](%[t]), %[h0]\n\t"                                                \
  "movq %[h0], %c[end](%[t])\n\t"                                                \
  "sbbq %[top], %[top]\n\t"                                                      \
  "negq %[top]\n\t"                                                              \
  "imulq %[minv], %[u]"
// clang-format on

// t[0..len) (+)= x * y[0..len), adding when kAdd and setting otherwise;
// returns the limb carried out. The sum stays below 2^(64 (len + 1)), so the
// carry limb cannot overflow. len >= 1.
template <bool kAdd>
MARLINOK_ADX inline Limb MulRow(Limb* t, const Limb* y, uint64_t len, Limb x) {
  uint64_t count = len & 3;
  const uint64_t groups = len >> 2;
  Limb lo, h0, h1, zero;
  if constexpr (kAdd) {
    MARLINOK_LOOP_ROW(MARLINOK_ADD_STEP);
  } else {
    MARLINOK_LOOP_ROW(MARLINOK_SET_STEP);
  }
  return h0;
}

// t[0..kLen) (+)= x * y; t[kLen] = the carry limb.
template <uint32_t kLen, bool kAdd>
MARLINOK_ADX inline void ProductRow(Limb* t, const Limb* y, Limb x) {
  Limb lo, h0, h1, zero, u, top = 0;  // top, u, minv: unused here
  const Limb minv = 0;
  if constexpr (kLen == 4 && kAdd) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_4(MARLINOK_QUAD, MARLINOK_ADD_STEP), MARLINOK_STORE_TAIL);
  } else if constexpr (kLen == 4) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_4(MARLINOK_QUAD, MARLINOK_SET_STEP), MARLINOK_STORE_TAIL);
  } else if constexpr (kLen == 8 && kAdd) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_8(MARLINOK_QUAD, MARLINOK_ADD_STEP), MARLINOK_STORE_TAIL);
  } else if constexpr (kLen == 8) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_8(MARLINOK_QUAD, MARLINOK_SET_STEP), MARLINOK_STORE_TAIL);
  } else if constexpr (kLen == 16 && kAdd) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_16(MARLINOK_QUAD, MARLINOK_ADD_STEP), MARLINOK_STORE_TAIL);
  } else if constexpr (kLen == 16) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_16(MARLINOK_QUAD, MARLINOK_SET_STEP), MARLINOK_STORE_TAIL);
  } else if constexpr (kAdd) {
    static_assert(kLen == 32, "a size without an unrolled row");
    MARLINOK_FIXED_ROW(MARLINOK_ROW_32(MARLINOK_QUAD, MARLINOK_ADD_STEP), MARLINOK_STORE_TAIL);
  } else {
    static_assert(kLen == 32, "a size without an unrolled row");
    MARLINOK_FIXED_ROW(MARLINOK_ROW_32(MARLINOK_QUAD, MARLINOK_SET_STEP), MARLINOK_STORE_TAIL);
  }
}

// t[0..kLen) += x * y with the reduction row's carry into t[kLen] and top;
// returns the next row's multiplier, (new t[1]) * minv.
template <uint32_t kLen>
MARLINOK_ADX inline Limb ReduceRow(Limb* t, const Limb* y, Limb x, Limb minv, Limb& top) {
  Limb lo, h0, h1, zero, u;
  if constexpr (kLen == 4) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_4(MARLINOK_QUAD_U, MARLINOK_ADD_STEP), MARLINOK_CARRY_TAIL);
  } else if constexpr (kLen == 8) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_8(MARLINOK_QUAD_U, MARLINOK_ADD_STEP), MARLINOK_CARRY_TAIL);
  } else if constexpr (kLen == 16) {
    MARLINOK_FIXED_ROW(MARLINOK_ROW_16(MARLINOK_QUAD_U, MARLINOK_ADD_STEP), MARLINOK_CARRY_TAIL);
  } else {
    static_assert(kLen == 32, "a size without an unrolled row");
    MARLINOK_FIXED_ROW(MARLINOK_ROW_32(MARLINOK_QUAD_U, MARLINOK_ADD_STEP), MARLINOK_CARRY_TAIL);
  }
  return u;
}

#undef MARLINOK_STORE_TAIL
#undef MARLINOK_CARRY_TAIL
#undef MARLINOK_FIXED_ROW
#undef MARLINOK_LOOP_ROW
#undef MARLINOK_ROW_32
#undef MARLINOK_ROW_16
#undef MARLINOK_ROW_8
#undef MARLINOK_ROW_4
#undef MARLINOK_QUAD_U
#undef MARLINOK_QUAD
#undef MARLINOK_PAIR
#undef MARLINOK_SET_STEP
#undef MARLINOK_ADD_STEP

// clang-format off
// Eight limbs (512-bit moduli, the primes of 1024-bit keys) are few enough to
// keep a running sum in registers. The product (MulKernel8) or square
// (SqrKernel8) is formed into sixteen limbs whose low eight end in eight
// registers; eight REDC rows clear those a limb at a time, the window moving
// up by a renaming of registers, and the high eight are added from the
// scratch. A product below m * R has a high half below m, so the sum is below
// 2m and one subtraction brings it below m. The context reaches m, minv and
// the scratch: the kernels need thirteen registers besides rdx, rsp and rbp,
// and build with frame pointers too.
#define MARLINOK_MAC(src, j, lo_to, hi_to)                        \
  "mulxq " #j "*8+" src "(%[c]), %[lo], %[hi]\n\t"              \
  "adcxq %[lo], %[" #lo_to "]\n\t"                                \
  "adoxq %[hi], %[" #hi_to "]\n\t"
// The sum (top, A7..A0), below 2m, goes to the scratch at `save`, m is
// subtracted once, and where that borrowed the sum is loaded back with cmov,
// which does not branch.
#define MARLINOK_SUBTRACT8(save, A0, A1, A2, A3, A4, A5, A6, A7, top) \
  "movq %[" #A0 "], 0*8+" save "(%[c])\n\t"                      \
  "movq %[" #A1 "], 1*8+" save "(%[c])\n\t"                      \
  "movq %[" #A2 "], 2*8+" save "(%[c])\n\t"                      \
  "movq %[" #A3 "], 3*8+" save "(%[c])\n\t"                      \
  "movq %[" #A4 "], 4*8+" save "(%[c])\n\t"                      \
  "movq %[" #A5 "], 5*8+" save "(%[c])\n\t"                      \
  "movq %[" #A6 "], 6*8+" save "(%[c])\n\t"                      \
  "movq %[" #A7 "], 7*8+" save "(%[c])\n\t"                      \
  "subq 0*8+%c[ms](%[c]), %[" #A0 "]\n\t"                        \
  "sbbq 1*8+%c[ms](%[c]), %[" #A1 "]\n\t"                        \
  "sbbq 2*8+%c[ms](%[c]), %[" #A2 "]\n\t"                        \
  "sbbq 3*8+%c[ms](%[c]), %[" #A3 "]\n\t"                        \
  "sbbq 4*8+%c[ms](%[c]), %[" #A4 "]\n\t"                        \
  "sbbq 5*8+%c[ms](%[c]), %[" #A5 "]\n\t"                        \
  "sbbq 6*8+%c[ms](%[c]), %[" #A6 "]\n\t"                        \
  "sbbq 7*8+%c[ms](%[c]), %[" #A7 "]\n\t"                        \
  "sbbq $0, %[" #top "]\n\t"                                     \
  "cmovcq 0*8+" save "(%[c]), %[" #A0 "]\n\t"                    \
  "cmovcq 1*8+" save "(%[c]), %[" #A1 "]\n\t"                    \
  "cmovcq 2*8+" save "(%[c]), %[" #A2 "]\n\t"                    \
  "cmovcq 3*8+" save "(%[c]), %[" #A3 "]\n\t"                    \
  "cmovcq 4*8+" save "(%[c]), %[" #A4 "]\n\t"                    \
  "cmovcq 5*8+" save "(%[c]), %[" #A5 "]\n\t"                    \
  "cmovcq 6*8+" save "(%[c]), %[" #A6 "]\n\t"                    \
  "cmovcq 7*8+" save "(%[c]), %[" #A7 "]"
// clang-format on

// r[0..7] = an eight-limb result held in registers.
MARLINOK_ADX inline void Store8(Limb* r, Limb a0, Limb a1, Limb a2, Limb a3, Limb a4, Limb a5,
                                Limb a6, Limb a7) {
  r[0] = a0;
  r[1] = a1;
  r[2] = a2;
  r[3] = a3;
  r[4] = a4;
  r[5] = a5;
  r[6] = a6;
  r[7] = a7;
}

// clang-format off
// A square of eight limbs takes 36 products where MulKernel8 takes 64, at the
// price of a trip through memory. The cross products x[i] * x[j], i < j, are
// formed by rows in eight registers, position k of the sum in r<k mod 8>: row
// i adds into positions 2i + 1 .. i + 7 and sets position i + 8, whose
// register held position i, final since row (i - 1) / 2 and stored first.
// The doubled sum with the squares x[i]^2 added makes the 16-limb square T;
// REDC of its low half runs in registers, and its high half is added after.
#define MARLINOK_SQR8_CROSS_START(i)                             \
  "movq %[r" #i "], " #i "*8+%c[ps](%[c])\n\t"                   \
  "movq " #i "*8(%[x]), %%rdx\n\t"                               \
  "xorl %k[lo], %k[lo]\n\t"
// The row's last product sets position i + 8 from its high half and the two
// carries.
#define MARLINOK_SQR8_CROSS_END(i, prev)                         \
  "mulxq 7*8(%[x]), %[lo], %[r" #i "]\n\t"                       \
  "adcxq %[lo], %[" #prev "]\n\t"                                \
  "movl $0, %%edx\n\t"                                           \
  "adoxq %%rdx, %[r" #i "]\n\t"                                  \
  "adcxq %%rdx, %[r" #i "]\n\t"
// x[i] * x[j], x[i] in rdx, added into positions i + j and i + j + 1.
#define MARLINOK_SQR8_X(j, lo_to, hi_to)                         \
  "mulxq " #j "*8(%[x]), %[lo], %[hi]\n\t"                       \
  "adcxq %[lo], %[" #lo_to "]\n\t"                               \
  "adoxq %[hi], %[" #hi_to "]\n\t"
// T[2k], T[2k + 1] = 2 p[2k] + lo(x[k]^2), 2 p[2k + 1] + hi(x[k]^2) and the
// carries, into registers lo_to and hi_to.
#define MARLINOK_SQR8_DOUBLE(k, lo_to, hi_to)                    \
  "movq " #k "*8(%[x]), %%rdx\n\t"                               \
  "mulxq %%rdx, %[lo], %[hi]\n\t"                                \
  "movq 2*" #k "*8+%c[ps](%[c]), %[" #lo_to "]\n\t"              \
  "adcxq %[" #lo_to "], %[" #lo_to "]\n\t"                       \
  "adoxq %[lo], %[" #lo_to "]\n\t"                               \
  "movq 2*" #k "*8+8+%c[ps](%[c]), %[" #hi_to "]\n\t"            \
  "adcxq %[" #hi_to "], %[" #hi_to "]\n\t"                       \
  "adoxq %[hi], %[" #hi_to "]\n\t"
// The same for the high half, in place in memory.
#define MARLINOK_SQR8_DOUBLE_HIGH(k)                             \
  "movq " #k "*8(%[x]), %%rdx\n\t"                               \
  "mulxq %%rdx, %[lo], %[hi]\n\t"                                \
  "movq 2*" #k "*8+%c[ps](%[c]), %[w]\n\t"                       \
  "adcxq %[w], %[w]\n\t"                                         \
  "adoxq %[lo], %[w]\n\t"                                        \
  "movq %[w], 2*" #k "*8+%c[ps](%[c])\n\t"                       \
  "movq 2*" #k "*8+8+%c[ps](%[c]), %[w]\n\t"                     \
  "adcxq %[w], %[w]\n\t"                                         \
  "adoxq %[hi], %[w]\n\t"                                        \
  "movq %[w], 2*" #k "*8+8+%c[ps](%[c])\n\t"
// T (A0..A7) += u * m, u in rdx: A0 becomes zero and takes the carries out
// of A7, the window moved up a limb. Below 2^512 * (m + 1) in all, the sum
// never carries out of the window.
#define MARLINOK_REDUCE8_ROW(A0, A1, A2, A3, A4, A5, A6, A7)     \
  "xorl %k[lo], %k[lo]\n\t"                                      \
  MARLINOK_MAC("%c[ms]", 0, A0, A1) MARLINOK_MAC("%c[ms]", 1, A1, A2) \
  MARLINOK_MAC("%c[ms]", 2, A2, A3) MARLINOK_MAC("%c[ms]", 3, A3, A4) \
  MARLINOK_MAC("%c[ms]", 4, A4, A5) MARLINOK_MAC("%c[ms]", 5, A5, A6) \
  MARLINOK_MAC("%c[ms]", 6, A6, A7) MARLINOK_MAC("%c[ms]", 7, A7, A0) \
  "movl $0, %%edx\n\t"                                           \
  "adcxq %%rdx, %[" #A0 "]\n\t"
// Two rows, their multipliers formed at once from A0 and A1 before either
// runs: (u1, u0) = (A1, A0) * -m^-1 mod 2^128, u0 the low limb of
// A0 * minv and u1 its high limb + A0 * minv_hi + A1 * minv. A row's
// multiplier waits on neither the row before it nor an imul after it, so
// the second row can follow the first a step behind.
#define MARLINOK_REDUCE8_PAIR(A0, A1, A2, A3, A4, A5, A6, A7) \
  "movq %[" #A0 "], %%rdx\n\t"                                   \
  "mulxq %c[minv](%[c]), %%rdx, %[hi]\n\t"                       \
  "movq %[" #A0 "], %[w]\n\t"                                    \
  "imulq %c[minv_hi](%[c]), %[w]\n\t"                            \
  "movq %[" #A1 "], %[lo]\n\t"                                   \
  "imulq %c[minv](%[c]), %[lo]\n\t"                              \
  "addq %[hi], %[w]\n\t"                                         \
  "addq %[lo], %[w]\n\t"                                         \
  MARLINOK_REDUCE8_ROW(A0, A1, A2, A3, A4, A5, A6, A7)           \
  "movq %[w], %%rdx\n\t"                                         \
  MARLINOK_REDUCE8_ROW(A1, A2, A3, A4, A5, A6, A7, A0)
// r0..r7 += T[8..15] from the scratch, the carry to w: below 2m.
#define MARLINOK_REDUCE8_ADD_HIGH                                   \
  "addq 8*8+%c[ps](%[c]), %[r0]\n\t"                              \
  "adcq 9*8+%c[ps](%[c]), %[r1]\n\t"                              \
  "adcq 10*8+%c[ps](%[c]), %[r2]\n\t"                             \
  "adcq 11*8+%c[ps](%[c]), %[r3]\n\t"                             \
  "adcq 12*8+%c[ps](%[c]), %[r4]\n\t"                             \
  "adcq 13*8+%c[ps](%[c]), %[r5]\n\t"                             \
  "adcq 14*8+%c[ps](%[c]), %[r6]\n\t"                             \
  "adcq 15*8+%c[ps](%[c]), %[r7]\n\t"                             \
  "movl $0, %k[w]\n\t"                                            \
  "adcq $0, %[w]\n\t"
// The eight-limb kernels' ending: REDC of the low half in r0..r7, the high
// half added from the scratch, one subtraction.
#define MARLINOK_REDUCE8_FINISH                                  \
  MARLINOK_REDUCE8_PAIR(r0, r1, r2, r3, r4, r5, r6, r7)          \
  MARLINOK_REDUCE8_PAIR(r2, r3, r4, r5, r6, r7, r0, r1)          \
  MARLINOK_REDUCE8_PAIR(r4, r5, r6, r7, r0, r1, r2, r3)          \
  MARLINOK_REDUCE8_PAIR(r6, r7, r0, r1, r2, r3, r4, r5)          \
  MARLINOK_REDUCE8_ADD_HIGH                                      \
  MARLINOK_SUBTRACT8("%c[ps]", r0, r1, r2, r3, r4, r5, r6, r7, w)
// The cross products of x: row 0 sets positions 1..8 on one carry chain,
// rows 1..6 follow; positions 1..6 end in memory at ps, 7..14 in r7, r0..r6.
#define MARLINOK_SQR8_CROSS                                      \
  "movq 0*8(%[x]), %%rdx\n\t"                                    \
  "mulxq 1*8(%[x]), %[r1], %[r2]\n\t"                            \
  "mulxq 2*8(%[x]), %[lo], %[r3]\n\t"                            \
  "addq %[lo], %[r2]\n\t"                                        \
  "mulxq 3*8(%[x]), %[lo], %[r4]\n\t"                            \
  "adcq %[lo], %[r3]\n\t"                                        \
  "mulxq 4*8(%[x]), %[lo], %[r5]\n\t"                            \
  "adcq %[lo], %[r4]\n\t"                                        \
  "mulxq 5*8(%[x]), %[lo], %[r6]\n\t"                            \
  "adcq %[lo], %[r5]\n\t"                                        \
  "mulxq 6*8(%[x]), %[lo], %[r7]\n\t"                            \
  "adcq %[lo], %[r6]\n\t"                                        \
  "mulxq 7*8(%[x]), %[lo], %[r0]\n\t"                            \
  "adcq %[lo], %[r7]\n\t"                                        \
  "adcq $0, %[r0]\n\t"                                           \
  MARLINOK_SQR8_CROSS_START(1)                                   \
  MARLINOK_SQR8_X(2, r3, r4) MARLINOK_SQR8_X(3, r4, r5)          \
  MARLINOK_SQR8_X(4, r5, r6) MARLINOK_SQR8_X(5, r6, r7)          \
  MARLINOK_SQR8_X(6, r7, r0) MARLINOK_SQR8_CROSS_END(1, r0)      \
  MARLINOK_SQR8_CROSS_START(2)                                   \
  MARLINOK_SQR8_X(3, r5, r6) MARLINOK_SQR8_X(4, r6, r7)          \
  MARLINOK_SQR8_X(5, r7, r0) MARLINOK_SQR8_X(6, r0, r1)          \
  MARLINOK_SQR8_CROSS_END(2, r1)                                 \
  MARLINOK_SQR8_CROSS_START(3)                                   \
  MARLINOK_SQR8_X(4, r7, r0) MARLINOK_SQR8_X(5, r0, r1)          \
  MARLINOK_SQR8_X(6, r1, r2) MARLINOK_SQR8_CROSS_END(3, r2)      \
  MARLINOK_SQR8_CROSS_START(4)                                   \
  MARLINOK_SQR8_X(5, r1, r2) MARLINOK_SQR8_X(6, r2, r3)          \
  MARLINOK_SQR8_CROSS_END(4, r3)                                 \
  MARLINOK_SQR8_CROSS_START(5)                                   \
  MARLINOK_SQR8_X(6, r3, r4) MARLINOK_SQR8_CROSS_END(5, r4)      \
  MARLINOK_SQR8_CROSS_START(6)                                   \
  MARLINOK_SQR8_CROSS_END(6, r5)
// clang-format on

// r = x^2 * R^-1 mod m for eight limbs, x < m.
MARLINOK_ADX void SqrKernel8(Limb* r, const Limb* x, Montgomery* ctx) {
  Limb r0, r1, r2, r3, r4, r5, r6, r7, lo, hi, w;
  __asm__ volatile(
      MARLINOK_SQR8_CROSS
      // Positions 8..14 go to memory, position 7 stays in r7; positions 0
      // and 15 are zero.
      "movq %[r0], 8*8+%c[ps](%[c])\n\t"
      "movq %[r1], 9*8+%c[ps](%[c])\n\t"
      "movq %[r2], 10*8+%c[ps](%[c])\n\t"
      "movq %[r3], 11*8+%c[ps](%[c])\n\t"
      "movq %[r4], 12*8+%c[ps](%[c])\n\t"
      "movq %[r5], 13*8+%c[ps](%[c])\n\t"
      "movq %[r6], 14*8+%c[ps](%[c])\n\t"
      // Doubling on the CF chain, squares on the OF chain: T[0..7] to
      // r0..r7, T[8..15] in place.
      "movq 0*8(%[x]), %%rdx\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      "mulxq %%rdx, %[r0], %[hi]\n\t"
      "movq 1*8+%c[ps](%[c]), %[r1]\n\t"
      "adcxq %[r1], %[r1]\n\t"
      "adoxq %[hi], %[r1]\n\t"
      MARLINOK_SQR8_DOUBLE(1, r2, r3)
      MARLINOK_SQR8_DOUBLE(2, r4, r5)
      "movq 3*8(%[x]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "movq 6*8+%c[ps](%[c]), %[r6]\n\t"
      "adcxq %[r6], %[r6]\n\t"
      "adoxq %[lo], %[r6]\n\t"
      "adcxq %[r7], %[r7]\n\t"
      "adoxq %[hi], %[r7]\n\t"
      MARLINOK_SQR8_DOUBLE_HIGH(4)
      MARLINOK_SQR8_DOUBLE_HIGH(5)
      MARLINOK_SQR8_DOUBLE_HIGH(6)
      "movq 7*8(%[x]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "movq 14*8+%c[ps](%[c]), %[w]\n\t"
      "adcxq %[w], %[w]\n\t"
      "adoxq %[lo], %[w]\n\t"
      "movq %[w], 14*8+%c[ps](%[c])\n\t"
      "movl $0, %k[w]\n\t"
      "adcxq %[w], %[w]\n\t"
      "adoxq %[hi], %[w]\n\t"
      "movq %[w], 15*8+%c[ps](%[c])\n\t"
      MARLINOK_REDUCE8_FINISH
      : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4),
        [r5] "=&r"(r5), [r6] "=&r"(r6), [r7] "=&r"(r7), [lo] "=&r"(lo), [hi] "=&r"(hi),
        [w] "=&r"(w)
      : [c] "r"(ctx), [x] "r"(x), [ps] "i"(offsetof(Montgomery, scratch)),
        [ms] "i"(offsetof(Montgomery, m)), [minv] "i"(offsetof(Montgomery, minv)),
        [minv_hi] "i"(offsetof(Montgomery, minv_hi))
      : "rdx", "cc", "memory");
  Store8(r, r0, r1, r2, r3, r4, r5, r6, r7);
}

// clang-format off
// Rows of a window of eight registers A0..A7 (the running sum's limbs from
// the row's own up), adding rdx * b[0..7] for an operand b given as an
// address with a displacement, "0(%[y])": the low halves on the CF chain,
// the high halves on the OF chain.
#define MARLINOK_WMAC(b, j, lo_to, hi_to)                        \
  "mulxq " #j "*8+" b ", %[lo], %[hi]\n\t"                        \
  "adcxq %[lo], %[" #lo_to "]\n\t"                               \
  "adoxq %[hi], %[" #hi_to "]\n\t"
#define MARLINOK_WMIDDLE(b, A1, A2, A3, A4, A5, A6, A7)          \
  MARLINOK_WMAC(b, 1, A1, A2) MARLINOK_WMAC(b, 2, A2, A3)        \
  MARLINOK_WMAC(b, 3, A3, A4) MARLINOK_WMAC(b, 4, A4, A5)        \
  MARLINOK_WMAC(b, 5, A5, A6) MARLINOK_WMAC(b, 6, A6, A7)
// The row's last product sets the window's new top limb, in the register of
// the limb the row completed (or cleared), from its high half and the two
// carries.
#define MARLINOK_WEND(b, A0, A7)                                 \
  "mulxq 7*8+" b ", %[lo], %[" #A0 "]\n\t"                       \
  "adcxq %[lo], %[" #A7 "]\n\t"                                  \
  "movl $0, %%edx\n\t"                                           \
  "adoxq %%rdx, %[" #A0 "]\n\t"                                  \
  "adcxq %%rdx, %[" #A0 "]\n\t"
// A whole row: the multiplier from address u, the completed limb to out.
#define MARLINOK_WROW(u, b, out, A0, A1, A2, A3, A4, A5, A6, A7) \
  "movq " u ", %%rdx\n\t"                                         \
  "xorl %k[lo], %k[lo]\n\t"                                      \
  MARLINOK_WMAC(b, 0, A0, A1)                                    \
  "movq %[" #A0 "], " out "\n\t"                                  \
  MARLINOK_WMIDDLE(b, A1, A2, A3, A4, A5, A6, A7)                \
  MARLINOK_WEND(b, A0, A7)
// clang-format on

// clang-format off
// The product of eight limbs by rows in registers, as in AddHalvesProduct
// but from a zero window: row i adds x[i] * y, stores the limb it completes
// to the scratch and sets the window's new top. x is addressed through w,
// which the reduction then takes as its spare register.
#define MARLINOK_MUL8_ROW(i, A0, A1, A2, A3, A4, A5, A6, A7)     \
  MARLINOK_WROW(#i "*8(%[w])", "0(%[y])", #i "*8+%c[ps](%[c])",  \
                A0, A1, A2, A3, A4, A5, A6, A7)
// clang-format on

// r = x * y * R^-1 mod m for eight limbs, x < R and y < m (x may be y): the
// product by rows in registers, then the square's reduction of its low half
// and addition of its high half (the product is below m * R, so its high
// half is below m).
MARLINOK_ADX void MulKernel8(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) {
  Limb r0 = 0, r1 = 0, r2 = 0, r3 = 0, r4 = 0, r5 = 0, r6 = 0, r7 = 0, lo, hi;
  Limb w = reinterpret_cast<uintptr_t>(x);
  // clang-format off
  __asm__ volatile(
      MARLINOK_MUL8_ROW(0, r0, r1, r2, r3, r4, r5, r6, r7)
      MARLINOK_MUL8_ROW(1, r1, r2, r3, r4, r5, r6, r7, r0)
      MARLINOK_MUL8_ROW(2, r2, r3, r4, r5, r6, r7, r0, r1)
      MARLINOK_MUL8_ROW(3, r3, r4, r5, r6, r7, r0, r1, r2)
      MARLINOK_MUL8_ROW(4, r4, r5, r6, r7, r0, r1, r2, r3)
      MARLINOK_MUL8_ROW(5, r5, r6, r7, r0, r1, r2, r3, r4)
      MARLINOK_MUL8_ROW(6, r6, r7, r0, r1, r2, r3, r4, r5)
      MARLINOK_MUL8_ROW(7, r7, r0, r1, r2, r3, r4, r5, r6)
      // The high half from r0..r7 to the scratch, the low half back.
      "movq %[r0], 8*8+%c[ps](%[c])\n\t"
      "movq %[r1], 9*8+%c[ps](%[c])\n\t"
      "movq %[r2], 10*8+%c[ps](%[c])\n\t"
      "movq %[r3], 11*8+%c[ps](%[c])\n\t"
      "movq %[r4], 12*8+%c[ps](%[c])\n\t"
      "movq %[r5], 13*8+%c[ps](%[c])\n\t"
      "movq %[r6], 14*8+%c[ps](%[c])\n\t"
      "movq %[r7], 15*8+%c[ps](%[c])\n\t"
      "movq 0*8+%c[ps](%[c]), %[r0]\n\t"
      "movq 1*8+%c[ps](%[c]), %[r1]\n\t"
      "movq 2*8+%c[ps](%[c]), %[r2]\n\t"
      "movq 3*8+%c[ps](%[c]), %[r3]\n\t"
      "movq 4*8+%c[ps](%[c]), %[r4]\n\t"
      "movq 5*8+%c[ps](%[c]), %[r5]\n\t"
      "movq 6*8+%c[ps](%[c]), %[r6]\n\t"
      "movq 7*8+%c[ps](%[c]), %[r7]\n\t"
      MARLINOK_REDUCE8_FINISH
      : [r0] "+&r"(r0), [r1] "+&r"(r1), [r2] "+&r"(r2), [r3] "+&r"(r3), [r4] "+&r"(r4),
        [r5] "+&r"(r5), [r6] "+&r"(r6), [r7] "+&r"(r7), [lo] "=&r"(lo), [hi] "=&r"(hi), [w] "+&r"(w)
      : [c] "r"(ctx), [y] "r"(y), [ps] "i"(offsetof(Montgomery, scratch)),
        [ms] "i"(offsetof(Montgomery, m)), [minv] "i"(offsetof(Montgomery, minv)),
        [minv_hi] "i"(offsetof(Montgomery, minv_hi))
      : "rdx", "cc", "memory");
  // clang-format on
  Store8(r, r0, r1, r2, r3, r4, r5, r6, r7);
}

#undef MARLINOK_MUL8_ROW

// p[0..15] = the cross products x[i] * x[j], i < j, of eight limbs (the
// rows' stores go to p itself, at offset 0).
MARLINOK_ADX inline void Cross8(Limb* p, const Limb* x) {
  Limb r0, r1, r2, r3, r4, r5, r6, r7, lo, hi;
  __asm__ volatile(MARLINOK_SQR8_CROSS
                   "movq %[r7], 7*8(%[c])\n\t"
                   "movq %[r0], 8*8(%[c])\n\t"
                   "movq %[r1], 9*8(%[c])\n\t"
                   "movq %[r2], 10*8(%[c])\n\t"
                   "movq %[r3], 11*8(%[c])\n\t"
                   "movq %[r4], 12*8(%[c])\n\t"
                   "movq %[r5], 13*8(%[c])\n\t"
                   "movq %[r6], 14*8(%[c])"
                   : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4),
                     [r5] "=&r"(r5), [r6] "=&r"(r6), [r7] "=&r"(r7), [lo] "=&r"(lo), [hi] "=&r"(hi)
                   : [c] "r"(p), [x] "r"(x), [ps] "i"(0)
                   : "rdx", "cc", "memory");
  p[0] = 0;
  p[15] = 0;
}

#undef MARLINOK_REDUCE8_ROW
#undef MARLINOK_REDUCE8_PAIR
#undef MARLINOK_REDUCE8_ADD_HIGH
#undef MARLINOK_REDUCE8_FINISH
#undef MARLINOK_SUBTRACT8
#undef MARLINOK_SQR8_CROSS
#undef MARLINOK_SQR8_DOUBLE_HIGH
#undef MARLINOK_SQR8_DOUBLE
#undef MARLINOK_SQR8_X
#undef MARLINOK_SQR8_CROSS_END
#undef MARLINOK_SQR8_CROSS_START

#undef MARLINOK_MAC

// clang-format off
// t[0..15] += a * b for the two halves a, b of a 16-limb x, the running sum
// in eight registers: row i adds a[i] * b to the window over t[i..i + 7], stores the
// limb it completes and sets the window's new top from its last high half
// and the two carries, in the register that limb left. The window never
// carries out: it starts below 2^512 and gains less than 2^(64 (i + 1)) *
// 2^512 by row i.
#define MARLINOK_PRODUCT8_ROW(i, A0, A1, A2, A3, A4, A5, A6, A7) \
  MARLINOK_WROW(#i "*8(%[x])", "64(%[x])", #i "*8(%[t])",        \
                A0, A1, A2, A3, A4, A5, A6, A7)
#define MARLINOK_PRODUCT8_ROWS                                   \
  MARLINOK_PRODUCT8_ROW(0, w0, w1, w2, w3, w4, w5, w6, w7)       \
  MARLINOK_PRODUCT8_ROW(1, w1, w2, w3, w4, w5, w6, w7, w0)       \
  MARLINOK_PRODUCT8_ROW(2, w2, w3, w4, w5, w6, w7, w0, w1)       \
  MARLINOK_PRODUCT8_ROW(3, w3, w4, w5, w6, w7, w0, w1, w2)       \
  MARLINOK_PRODUCT8_ROW(4, w4, w5, w6, w7, w0, w1, w2, w3)       \
  MARLINOK_PRODUCT8_ROW(5, w5, w6, w7, w0, w1, w2, w3, w4)       \
  MARLINOK_PRODUCT8_ROW(6, w6, w7, w0, w1, w2, w3, w4, w5)       \
  MARLINOK_PRODUCT8_ROW(7, w7, w0, w1, w2, w3, w4, w5, w6)
// clang-format on

// t[0..15] += x[0..7] * x[8..15]; returns the carry out of t[15].
MARLINOK_ADX inline Limb AddHalvesProduct(Limb* t, const Limb* x) {
  Limb w[8] = {t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7]};
  Limb lo, hi;
  __asm__ volatile(
      MARLINOK_PRODUCT8_ROWS
      : [w0] "+&r"(w[0]), [w1] "+&r"(w[1]), [w2] "+&r"(w[2]), [w3] "+&r"(w[3]), [w4] "+&r"(w[4]),
        [w5] "+&r"(w[5]), [w6] "+&r"(w[6]), [w7] "+&r"(w[7]), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : [t] "r"(t), [x] "r"(x)
      : "rdx", "cc", "memory");
  unsigned char c = 0;
  for (uint32_t j = 0; j < 8; ++j) {
    unsigned long long s;
    c = _addcarry_u64(c, t[8 + j], w[j], &s);
    t[8 + j] = s;
  }
  return c;
}

#undef MARLINOK_PRODUCT8_ROWS
#undef MARLINOK_PRODUCT8_ROW

// p[from..to) += carry, the carry running up.
MARLINOK_ADX inline void CarryUp(Limb* p, Limb carry, uint32_t from, uint32_t to) {
  unsigned char c = static_cast<unsigned char>(carry);
  for (uint32_t j = from; j < to; ++j) {
    unsigned long long s;
    c = _addcarry_u64(c, p[j], 0, &s);
    p[j] = s;
  }
}

// p (32 limbs) = the cross products of x (16 limbs), i < j: those within
// each half, then the product of the two halves.
MARLINOK_ADX inline void Cross16(Limb* p, const Limb* x) {
  Cross8(p, x);
  Cross8(p + 16, x + 8);
  CarryUp(p, AddHalvesProduct(p + 8, x), 24, 32);
}

// p (2n limbs) = 2p + the squares x[i]^2 at limb 2i. The doubling runs on the
// CF chain (adcx a, a shifts the top bit of a into the next limb) and the
// squares on the OF chain; neither carries out of p, whose value ends below
// 2^(128n).
MARLINOK_ADX inline void DoubleAddSquares(Limb* p, const Limb* x, uint64_t n) {
  Limb a, b, lo, hi;
  __asm__ volatile(
      "xorl %k[a], %k[a]\n\t"  // clears CF and OF
      "1:\n\t"
      "movq (%[x]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "movq (%[p]), %[a]\n\t"
      "movq 8(%[p]), %[b]\n\t"
      "adcxq %[a], %[a]\n\t"
      "adcxq %[b], %[b]\n\t"
      "adoxq %[lo], %[a]\n\t"
      "adoxq %[hi], %[b]\n\t"
      "movq %[a], (%[p])\n\t"
      "movq %[b], 8(%[p])\n\t"
      "leaq 8(%[x]), %[x]\n\t"
      "leaq 16(%[p]), %[p]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "jrcxz 2f\n\t"
      "jmp 1b\n"
      "2:"
      : [p] "+&r"(p), [x] "+&r"(x),
        "+&c"(n), [a] "=&r"(a), [b] "=&r"(b), [lo] "=&r"(lo), [hi] "=&r"(hi)
      :
      : "rdx", "cc", "memory");
}

// clang-format off
// diff[j] = t[j] - m[j] - borrow, on one borrow chain.
#define MARLINOK_SUB_STEP(j)                                                     \
  "movq " #j "*8(%[t]), %[w]\n\t"                                                \
  "sbbq " #j "*8(%[m]), %[w]\n\t"                                                \
  "movq %[w], " #j "*8(%[diff])\n\t"
#define MARLINOK_SUB_4(j, k, l, o)                                               \
  MARLINOK_SUB_STEP(j) MARLINOK_SUB_STEP(k) MARLINOK_SUB_STEP(l) MARLINOK_SUB_STEP(o)
#define MARLINOK_SUB_16                                                          \
  MARLINOK_SUB_4(0, 1, 2, 3) MARLINOK_SUB_4(4, 5, 6, 7)                          \
  MARLINOK_SUB_4(8, 9, 10, 11) MARLINOK_SUB_4(12, 13, 14, 15)
#define MARLINOK_SUB_32                                                          \
  MARLINOK_SUB_16 MARLINOK_SUB_4(16, 17, 18, 19) MARLINOK_SUB_4(20, 21, 22, 23)  \
  MARLINOK_SUB_4(24, 25, 26, 27) MARLINOK_SUB_4(28, 29, 30, 31)
// clang-format on

// r = t - m when (top, t) >= m, else t, for (top, t) < 2m; chosen by a mask.
template <uint32_t kFixed>
MARLINOK_ADX inline void SubtractOnce(Limb* r, const Limb* t, Limb top, Montgomery* ctx) {
  const uint32_t n = kFixed != 0 ? kFixed : ctx->n;
  Limb* diff = ctx->diff;
  Limb borrow = 0;
  if constexpr (kFixed == 16 || kFixed == 32) {
    Limb w;
    if constexpr (kFixed == 16) {
      __asm__ volatile("clc\n\t" MARLINOK_SUB_16 "sbbq %[b], %[b]"
                       : [w] "=&r"(w), [b] "+&r"(borrow)
                       : [t] "r"(t), [m] "r"(ctx->m), [diff] "r"(diff)
                       : "cc", "memory");
    } else {
      __asm__ volatile("clc\n\t" MARLINOK_SUB_32 "sbbq %[b], %[b]"
                       : [w] "=&r"(w), [b] "+&r"(borrow)
                       : [t] "r"(t), [m] "r"(ctx->m), [diff] "r"(diff)
                       : "cc", "memory");
    }
    borrow &= 1;
  } else {
    unsigned char b = 0;
    for (uint32_t i = 0; i < n; ++i) {
      unsigned long long d;
      b = _subborrow_u64(b, t[i], ctx->m[i], &d);
      diff[i] = d;
    }
    borrow = b;
  }
  const Limb keep_diff = static_cast<Limb>(0) - (1 ^ (top ^ borrow));
  for (uint32_t i = 0; i < n; ++i) r[i] = (diff[i] & keep_diff) | (t[i] & ~keep_diff);
}

#undef MARLINOK_SUB_32
#undef MARLINOK_SUB_16
#undef MARLINOK_SUB_4
#undef MARLINOK_SUB_STEP

// clang-format off
// REDC of 16 and 32 limbs by blocks of eight rows, each row's running sum in
// eight registers rather than in memory. A block's first pass adds u_i * m[0..7]
// for its rows i = 0..7, forming u_i from the window's low limb (which the row
// clears) and keeping it in T where that limb was; each later pass c adds T's
// next eight limbs to the window, then u_i * m[8c..8c + 7], storing the limb
// each row completes. What the window holds after the last pass is added into
// T above the block, and the carry runs on to T's end. The window never
// carries out: it starts below 2^512 and gains less than 2^(64 (i + 1)) *
// 2^512 by row i; the carry out of a pass's start (cb, kept as 0 or -1) joins
// the next one. The context pointer walks the modulus eight limbs a pass.
// A row of the first pass, u in rdx.
#define MARLINOK_BLOCK_FIRST_ROW(A0, A1, A2, A3, A4, A5, A6, A7) \
  "xorl %k[lo], %k[lo]\n\t"                                      \
  MARLINOK_WMAC("%c[mo](%[m])", 0, A0, A1)                       \
  MARLINOK_WMIDDLE("%c[mo](%[m])", A1, A2, A3, A4, A5, A6, A7)   \
  MARLINOK_WEND("%c[mo](%[m])", A0, A7)
// Rows i and j = i + 1 of the first pass, their multipliers formed at once
// (as in the eight-limb square) and kept at t[i] and t[j]; cb, free until
// the later passes, holds u_j while row i runs.
#define MARLINOK_BLOCK_FIRST_PAIR(i, j, A0, A1, A2, A3, A4, A5, A6, A7) \
  "movq %[" #A0 "], %%rdx\n\t"                                   \
  "mulxq %c[minv](%[m]), %%rdx, %[hi]\n\t"                       \
  "movq %%rdx, " #i "*8(%[t])\n\t"                               \
  "movq %[" #A0 "], %[cb]\n\t"                                   \
  "imulq %c[minv_hi](%[m]), %[cb]\n\t"                           \
  "movq %[" #A1 "], %[lo]\n\t"                                   \
  "imulq %c[minv](%[m]), %[lo]\n\t"                              \
  "addq %[hi], %[cb]\n\t"                                        \
  "addq %[lo], %[cb]\n\t"                                        \
  "movq %[cb], " #j "*8(%[t])\n\t"                               \
  MARLINOK_BLOCK_FIRST_ROW(A0, A1, A2, A3, A4, A5, A6, A7)       \
  "movq %[cb], %%rdx\n\t"                                        \
  MARLINOK_BLOCK_FIRST_ROW(A1, A2, A3, A4, A5, A6, A7, A0)
// Row i of pass c: u_i from t[i]; the completed limb to t[8c + i].
#define MARLINOK_BLOCK_ROW(c, i, A0, A1, A2, A3, A4, A5, A6, A7) \
  MARLINOK_WROW(#i "*8(%[t])", "%c[mo](%[m])", #c "*64+" #i "*8(%[t])", \
                A0, A1, A2, A3, A4, A5, A6, A7)
#define MARLINOK_BLOCK_ROWS(R, c)                                \
  R(c, 0, a0, a1, a2, a3, a4, a5, a6, a7) R(c, 1, a1, a2, a3, a4, a5, a6, a7, a0) \
  R(c, 2, a2, a3, a4, a5, a6, a7, a0, a1) R(c, 3, a3, a4, a5, a6, a7, a0, a1, a2) \
  R(c, 4, a4, a5, a6, a7, a0, a1, a2, a3) R(c, 5, a5, a6, a7, a0, a1, a2, a3, a4) \
  R(c, 6, a6, a7, a0, a1, a2, a3, a4, a5) R(c, 7, a7, a0, a1, a2, a3, a4, a5, a6)
// Pass c >= 1: the window gains t[8c..8c + 7] and the previous carry.
#define MARLINOK_BLOCK_PASS(c)                                   \
  "leaq 64(%[m]), %[m]\n\t"                                      \
  "negq %[cb]\n\t"                                               \
  "adcq " #c "*64+0*8(%[t]), %[a0]\n\t"                          \
  "adcq " #c "*64+1*8(%[t]), %[a1]\n\t"                          \
  "adcq " #c "*64+2*8(%[t]), %[a2]\n\t"                          \
  "adcq " #c "*64+3*8(%[t]), %[a3]\n\t"                          \
  "adcq " #c "*64+4*8(%[t]), %[a4]\n\t"                          \
  "adcq " #c "*64+5*8(%[t]), %[a5]\n\t"                          \
  "adcq " #c "*64+6*8(%[t]), %[a6]\n\t"                          \
  "adcq " #c "*64+7*8(%[t]), %[a7]\n\t"                          \
  "sbbq %[cb], %[cb]\n\t"                                        \
  MARLINOK_BLOCK_ROWS(MARLINOK_BLOCK_ROW, c)
// The window and the carry into T from t[kLen] up; the carry runs on through
// hi groups of eight limbs more (a loop on lea and jrcxz, which leave CF
// alone) and ends in cb as 0 or 1. hi waits in the context's spare limbs
// (diff, free until the final subtraction) while the rows use its register.
#define MARLINOK_BLOCK_ASM(passes)                               \
  __asm__ volatile(                                              \
      "movq %[hi], %c[spare](%[m])\n\t"                          \
      "movq 0*8(%[t]), %[a0]\n\t"                                \
      "movq 1*8(%[t]), %[a1]\n\t"                                \
      "movq 2*8(%[t]), %[a2]\n\t"                                \
      "movq 3*8(%[t]), %[a3]\n\t"                                \
      "movq 4*8(%[t]), %[a4]\n\t"                                \
      "movq 5*8(%[t]), %[a5]\n\t"                                \
      "movq 6*8(%[t]), %[a6]\n\t"                                \
      "movq 7*8(%[t]), %[a7]\n\t"                                \
      MARLINOK_BLOCK_FIRST_PAIR(0, 1, a0, a1, a2, a3, a4, a5, a6, a7) \
      MARLINOK_BLOCK_FIRST_PAIR(2, 3, a2, a3, a4, a5, a6, a7, a0, a1) \
      MARLINOK_BLOCK_FIRST_PAIR(4, 5, a4, a5, a6, a7, a0, a1, a2, a3) \
      MARLINOK_BLOCK_FIRST_PAIR(6, 7, a6, a7, a0, a1, a2, a3, a4, a5) \
      "xorl %k[cb], %k[cb]\n\t"                                  \
      passes                                                     \
      "leaq %c[end](%[t]), %[lo]\n\t"                            \
      "movq %c[spare_end](%[m]), %[hi]\n\t"                      \
      "negq %[cb]\n\t"                                           \
      "adcq %[a0], 0*8(%[lo])\n\t"                               \
      "adcq %[a1], 1*8(%[lo])\n\t"                               \
      "adcq %[a2], 2*8(%[lo])\n\t"                               \
      "adcq %[a3], 3*8(%[lo])\n\t"                               \
      "adcq %[a4], 4*8(%[lo])\n\t"                               \
      "adcq %[a5], 5*8(%[lo])\n\t"                               \
      "adcq %[a6], 6*8(%[lo])\n\t"                               \
      "adcq %[a7], 7*8(%[lo])\n\t"                               \
      "jrcxz 2f\n"                                               \
      "1:\n\t"                                                   \
      "adcq $0, 8*8(%[lo])\n\t"                                  \
      "adcq $0, 9*8(%[lo])\n\t"                                  \
      "adcq $0, 10*8(%[lo])\n\t"                                 \
      "adcq $0, 11*8(%[lo])\n\t"                                 \
      "adcq $0, 12*8(%[lo])\n\t"                                 \
      "adcq $0, 13*8(%[lo])\n\t"                                 \
      "adcq $0, 14*8(%[lo])\n\t"                                 \
      "adcq $0, 15*8(%[lo])\n\t"                                 \
      "leaq 64(%[lo]), %[lo]\n\t"                                \
      "leaq -1(%[hi]), %[hi]\n\t"                                \
      "jrcxz 2f\n\t"                                             \
      "jmp 1b\n"                                                 \
      "2:\n\t"                                                   \
      "sbbq %[cb], %[cb]\n\t"                                    \
      "negq %[cb]"                                               \
      : [a0] "=&r"(a0), [a1] "=&r"(a1), [a2] "=&r"(a2), [a3] "=&r"(a3), \
        [a4] "=&r"(a4), [a5] "=&r"(a5), [a6] "=&r"(a6), [a7] "=&r"(a7), \
        [lo] "=&r"(lo), [hi] "+&c"(hi), [cb] "=&r"(cb), [m] "+&r"(m) \
      : [t] "r"(t), [end] "i"(8 * kLen),                         \
        [spare] "i"(offsetof(Montgomery, diff)),                 \
        [spare_end] "i"(offsetof(Montgomery, diff) - 64 * (kLen / 8 - 1)), \
        [mo] "i"(offsetof(Montgomery, m)),                       \
        [minv] "i"(offsetof(Montgomery, minv)),                  \
        [minv_hi] "i"(offsetof(Montgomery, minv_hi))             \
      : "rdx", "cc", "memory")
// clang-format on

// The REDC rows of the 2 kLen-limb p; returns the bit carried past p.
template <uint32_t kLen>
MARLINOK_ADX inline Limb ReduceRowsByBlocks(Limb* p, Montgomery* ctx) {
  static_assert(kLen == 16 || kLen == 32, "blocks of a size with passes written out");
  Limb top = 0;
  for (uint32_t k0 = 0; k0 < kLen; k0 += 8) {
    Limb a0, a1, a2, a3, a4, a5, a6, a7, lo, cb;
    Limb hi = (kLen - 8 - k0) / 8;  // groups of eight limbs above the window's
    Limb* t = p + k0;
    Montgomery* m = ctx;
    if constexpr (kLen == 16) {
      MARLINOK_BLOCK_ASM(MARLINOK_BLOCK_PASS(1));
    } else {
      MARLINOK_BLOCK_ASM(MARLINOK_BLOCK_PASS(1) MARLINOK_BLOCK_PASS(2) MARLINOK_BLOCK_PASS(3));
    }
    top += cb;
  }
  return top;
}

#undef MARLINOK_BLOCK_ASM
#undef MARLINOK_BLOCK_PASS
#undef MARLINOK_BLOCK_ROWS
#undef MARLINOK_BLOCK_ROW
#undef MARLINOK_BLOCK_FIRST_PAIR
#undef MARLINOK_BLOCK_FIRST_ROW
#undef MARLINOK_WROW
#undef MARLINOK_WEND
#undef MARLINOK_WMIDDLE
#undef MARLINOK_WMAC

// REDC of the 2n-limb p (< m * R) into r: row i adds u * m with u chosen to
// clear limb i; the carries past a row's end collect in `top`. kFixed is the
// limb count of an unrolled size, or 0.
template <uint32_t kFixed>
MARLINOK_ADX inline void Reduce(Limb* r, Limb* p, Montgomery* ctx) {
  const uint32_t n = kFixed != 0 ? kFixed : ctx->n;
  const Limb minv = ctx->minv;
  Limb top = 0;
  if constexpr (kFixed == 16 || kFixed == 32) {
    top = ReduceRowsByBlocks<kFixed>(p, ctx);
  } else if constexpr (kFixed != 0) {
    Limb u = p[0] * minv;
    for (uint32_t i = 0; i < n; ++i) u = ReduceRow<kFixed>(p + i, ctx->m, u, minv, top);
  } else {
    for (uint32_t i = 0; i < n; ++i) {
      const Limb carry = MulRow<true>(p + i, ctx->m, n, p[i] * minv);
      const WideLimb w = static_cast<WideLimb>(p[i + n]) + carry + top;
      p[i + n] = static_cast<Limb>(w);
      top = static_cast<Limb>(w >> 64);
    }
  }
  SubtractOnce<kFixed>(r, p + n, top, ctx);
}

template <uint32_t kFixed>
MARLINOK_ADX void MulKernel(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) {
  const uint32_t n = kFixed != 0 ? kFixed : ctx->n;
  Limb* p = ctx->scratch;
  // Row i covers limbs i .. i + n - 1 and carries into limb i + n; the first
  // row sets its limbs, so nothing needs clearing.
  if constexpr (kFixed != 0) {
    ProductRow<kFixed, false>(p, y, x[0]);
    for (uint32_t i = 1; i < n; ++i) ProductRow<kFixed, true>(p + i, y, x[i]);
  } else {
    p[n] = MulRow<false>(p, y, n, x[0]);
    for (uint32_t i = 1; i < n; ++i) p[i + n] = MulRow<true>(p + i, y, n, x[i]);
  }
  Reduce<kFixed>(r, p, ctx);
}

template <uint32_t kFixed>
MARLINOK_ADX void SqrKernel(Limb* r, const Limb* x, Montgomery* ctx) {
  const uint32_t n = kFixed != 0 ? kFixed : ctx->n;
  Limb* p = ctx->scratch;
  // The cross products x[i] * x[j], i < j, once: for sixteen limbs by halves
  // in registers; otherwise by rows, row i covering limbs 2i + 1 .. i + n - 1
  // and carrying into limb i + n (the first row sets its limbs, so only limbs
  // 0 and 2n - 1 need clearing).
  if constexpr (kFixed == 16) {
    Cross16(p, x);
  } else {
    p[0] = 0;
    p[2 * n - 1] = 0;
    if (n > 1) p[n] = MulRow<false>(p + 1, x + 1, n - 1, x[0]);
    for (uint32_t i = 1; i + 1 < n; ++i) {
      p[i + n] = MulRow<true>(p + 2 * i + 1, x + i + 1, n - 1 - i, x[i]);
    }
  }
  DoubleAddSquares(p, x, n);
  Reduce<kFixed>(r, p, ctx);
}

}  // namespace

// BMI2 (mulx) and ADX (adcx/adox): CPUID leaf 7, EBX bits 8 and 19. Read
// directly, since not every compiler knows "adx" as a feature name.
bool AdxSupported() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
}

void AdxMontgomeryMul(Limb* r, const Limb* x, const Limb* y, Montgomery* ctx) noexcept {
  switch (ctx->n) {
    case 4:
      return MulKernel<4>(r, x, y, ctx);
    case 8:
      return MulKernel8(r, x, y, ctx);
    case 16:
      return MulKernel<16>(r, x, y, ctx);
    case 32:
      return MulKernel<32>(r, x, y, ctx);
    default:
      return MulKernel<0>(r, x, y, ctx);
  }
}

void AdxMontgomerySqr(Limb* r, const Limb* x, Montgomery* ctx) noexcept {
  switch (ctx->n) {
    case 4:
      return SqrKernel<4>(r, x, ctx);
    case 8:
      return SqrKernel8(r, x, ctx);
    case 16:
      return SqrKernel<16>(r, x, ctx);
    case 32:
      return SqrKernel<32>(r, x, ctx);
    default:
      return SqrKernel<0>(r, x, ctx);
  }
}

void AdxMontgomeryReduce(Limb* r, Limb* p, Montgomery* ctx) noexcept {
  switch (ctx->n) {
    case 4:
      return Reduce<4>(r, p, ctx);
    case 8:
      return Reduce<8>(r, p, ctx);
    case 16:
      return Reduce<16>(r, p, ctx);
    case 32:
      return Reduce<32>(r, p, ctx);
    default:
      return Reduce<0>(r, p, ctx);
  }
}

#undef MARLINOK_ADX

}  // namespace marlinok::mp::detail

#endif
