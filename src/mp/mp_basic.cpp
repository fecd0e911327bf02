// Byte coding, assignment, addition, shifts, comparison and the one-digit
// helpers of the multi-precision numbers.
#include <cstring>

#include "mp/mp.h"

namespace marlinok::mp {

void MpDecode(MpDigit* a, uint32_t n, const uint8_t* bytes, uint32_t length) noexcept {
  // Byte j from the end is bits 8*(j mod 4) of digit j / 4; bytes at j >= 4n
  // (the front of a long string) do not fit and are dropped. Whole digits are
  // read four bytes at a time, the short one at the front byte by byte.
  const uint64_t fit = uint64_t{4} * n;
  const uint32_t used = length < fit ? length : static_cast<uint32_t>(fit);
  const uint8_t* end = bytes + length;
  uint32_t i = 0;
  for (; 4 * i + 4 <= used; ++i) {
    const uint8_t* p = end - 4 * i - 4;
    a[i] = (MpDigit{p[0]} << 24) | (MpDigit{p[1]} << 16) | (MpDigit{p[2]} << 8) | p[3];
  }
  if (i < n) {
    MpDigit digit = 0;
    for (uint32_t j = 4 * i; j < used; ++j)
      digit |= MpDigit{end[-1 - static_cast<int64_t>(j)]} << (8 * (j % 4));
    a[i++] = digit;
  }
  for (; i < n; ++i) a[i] = 0;
}

void MpEncode(uint8_t* bytes, uint32_t length, const MpDigit* a, uint32_t n) noexcept {
  // Whole digits four bytes at a time from the end, then the front bytes.
  uint8_t* end = bytes + length;
  uint32_t i = 0;
  for (; i < n && 4 * i + 4 <= length; ++i) {
    uint8_t* p = end - 4 * i - 4;
    const MpDigit digit = a[i];
    p[0] = static_cast<uint8_t>(digit >> 24);
    p[1] = static_cast<uint8_t>(digit >> 16);
    p[2] = static_cast<uint8_t>(digit >> 8);
    p[3] = static_cast<uint8_t>(digit);
  }
  for (uint32_t j = 4 * i; j < length; ++j) {
    const uint32_t digit = j / 4;
    end[-1 - static_cast<int64_t>(j)] =
        digit < n ? static_cast<uint8_t>(a[digit] >> (8 * (j % 4))) : uint8_t{0};
  }
}

void MpAssign(MpDigit* a, const MpDigit* b, uint32_t n) noexcept {
  if (a != b && n != 0) std::memmove(a, b, n * sizeof(MpDigit));
}

void MpAssignZero(MpDigit* a, uint32_t n) noexcept {
  for (uint32_t i = 0; i < n; ++i) a[i] = 0;
}

void MpAssignDigit(MpDigit* a, MpDigit v, uint32_t n) noexcept {
  if (n == 0) return;
  MpAssignZero(a, n);
  a[0] = v;
}

void MpAssignPow2(MpDigit* a, uint32_t k, uint32_t n) noexcept {
  MpAssignZero(a, n);
  if (k / 32 < n) a[k / 32] = MpDigit{1} << (k % 32);
}

MpDigit MpAdd(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept {
  uint64_t carry = 0;
  for (uint32_t i = 0; i < n; ++i) {
    carry += uint64_t{b[i]} + c[i];
    a[i] = static_cast<MpDigit>(carry);
    carry >>= 32;
  }
  return static_cast<MpDigit>(carry);
}

MpDigit MpSub(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept {
  MpDigit borrow = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t diff = uint64_t{b[i]} - c[i] - borrow;
    a[i] = static_cast<MpDigit>(diff);
    borrow = static_cast<MpDigit>(diff >> 63);
  }
  return borrow;
}

MpDigit MpShiftLeft(MpDigit* a, const MpDigit* b, uint32_t k, uint32_t n) noexcept {
  if (k >= 32) return 0;
  if (k == 0) {
    MpAssign(a, b, n);
    return 0;
  }
  MpDigit carry = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const MpDigit digit = b[i];
    a[i] = (digit << k) | carry;
    carry = digit >> (32 - k);
  }
  return carry;
}

MpDigit MpShiftRight(MpDigit* a, const MpDigit* b, uint32_t k, uint32_t n) noexcept {
  if (k >= 32) return 0;
  if (k == 0) {
    MpAssign(a, b, n);
    return 0;
  }
  MpDigit carry = 0;
  for (uint32_t i = n; i-- > 0;) {
    const MpDigit digit = b[i];
    a[i] = (digit >> k) | carry;
    carry = digit << (32 - k);
  }
  return carry;
}

int MpCompare(const MpDigit* b, const MpDigit* c, uint32_t n) noexcept {
  for (uint32_t i = n; i-- > 0;) {
    if (b[i] > c[i]) return 1;
    if (b[i] < c[i]) return -1;
  }
  return 0;
}

int MpIsZero(const MpDigit* a, uint32_t n) noexcept {
  for (uint32_t i = 0; i < n; ++i) {
    if (a[i] != 0) return 0;
  }
  return 1;
}

uint32_t MpDigitCount(const MpDigit* a, uint32_t n) noexcept {
  for (uint32_t i = n; i-- > 0;) {
    if (a[i] != 0) return i + 1;
  }
  return 0;
}

MpDigit MpAddDigitMul(MpDigit* a, MpDigit c, const MpDigit* d, uint32_t n) noexcept {
  if (c == 0) return 0;
  // a[i] + c * d[i] + carry < 2^64, so one 64-bit accumulator suffices.
  uint64_t carry = 0;
  for (uint32_t i = 0; i < n; ++i) {
    carry += uint64_t{c} * d[i] + a[i];
    a[i] = static_cast<MpDigit>(carry);
    carry >>= 32;
  }
  return static_cast<MpDigit>(carry);
}

MpDigit MpSubDigitMul(MpDigit* a, MpDigit c, const MpDigit* d, uint32_t n) noexcept {
  if (c == 0) return 0;
  uint64_t borrow = 0;  // the product's high digit plus the previous borrow
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t product = uint64_t{c} * d[i] + borrow;
    const MpDigit low = static_cast<MpDigit>(product);
    borrow = (product >> 32) + (a[i] < low ? 1 : 0);
    a[i] -= low;
  }
  return static_cast<MpDigit>(borrow);
}

void DigitMul(MpDigit out[2], MpDigit b, MpDigit c) noexcept {
  const uint64_t product = uint64_t{b} * c;
  out[0] = static_cast<MpDigit>(product);
  out[1] = static_cast<MpDigit>(product >> 32);
}

MpDigit DigitDiv(MpDigit b1, MpDigit b0, MpDigit c) noexcept {
  // b1 < c keeps the quotient below 2^32.
  return static_cast<MpDigit>(((uint64_t{b1} << 32) | b0) / c);
}

uint32_t DigitBitLength(MpDigit a) noexcept {
  uint32_t bits = 0;
  while (a != 0) {
    ++bits;
    a >>= 1;
  }
  return bits;
}

}  // namespace marlinok::mp
