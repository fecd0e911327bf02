// Byte coding, assignment, addition, shifts, comparison and digit helpers.
#include <gtest/gtest.h>

#include "mp/mp.h"
#include "mp/mp_oracle.h"
#include "support/hex.h"

namespace marlinok::mp {
namespace {

using test::Number;
using test::Small;

constexpr MpDigit kFill = 0xA5A5A5A5u;

TEST(MpDecode, LongStringKeepsItsLast260Bytes) {
  std::vector<uint8_t> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i + 1);
  Number a(MP_MAX_DIGITS, kFill);
  MpDecode(a.data(), MP_MAX_DIGITS, bytes.data(), 300);
  // The last 4 bytes form digit 0; byte 40 (the first kept) is the top of digit 64.
  EXPECT_EQ(a[0], (uint32_t{bytes[296]} << 24) | (uint32_t{bytes[297]} << 16) |
                      (uint32_t{bytes[298]} << 8) | bytes[299]);
  EXPECT_EQ(a[64], (uint32_t{bytes[40]} << 24) | (uint32_t{bytes[41]} << 16) |
                       (uint32_t{bytes[42]} << 8) | bytes[43]);
  std::vector<uint8_t> back(260);
  MpEncode(back.data(), 260, a.data(), MP_MAX_DIGITS);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), bytes.begin() + 40));
}

TEST(MpDecode, ShortStringIsZeroExtended) {
  const uint8_t bytes[3] = {0x12, 0x34, 0x56};
  Number a(4, kFill);
  MpDecode(a.data(), 4, bytes, 3);
  EXPECT_EQ(a, (Number{0x123456u, 0, 0, 0}));
}

TEST(MpDecode, WritesNoDigitAboveTheCount) {
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Number a(3, kFill);
  MpDecode(a.data(), 1, bytes, 8);
  EXPECT_EQ(a, (Number{0x05060708u, kFill, kFill}));
}

TEST(MpEncode, OneDigitIntoSixBytesGetsTwoZeroBytesInFront) {
  const Number a{0x01020304u};
  std::vector<uint8_t> out(6, 0xA5);
  MpEncode(out.data(), 6, a.data(), 1);
  EXPECT_EQ(marlinok::test::ToHex(out), "000001020304");
}

TEST(MpEncode, TwoDigitsIntoSixBytesDropsTheTopTwo) {
  const Number a{0x05060708u, 0x01020304u};
  std::vector<uint8_t> out(6, 0xA5);
  MpEncode(out.data(), 6, a.data(), 2);
  EXPECT_EQ(marlinok::test::ToHex(out), "030405060708");
}

TEST(MpEncode, ZeroWritesOnlyZeroBytes) {
  const Number a(3, 0);
  std::vector<uint8_t> out(17, 0xA5);
  MpEncode(out.data(), 17, a.data(), 3);
  EXPECT_EQ(out, std::vector<uint8_t>(17, 0));
}

TEST(MpAssign, SmallValueClearsTheRest) {
  Number a(4, kFill);
  MpAssignDigit(a.data(), 65537, 3);
  EXPECT_EQ(a, (Number{65537, 0, 0, kFill}));
  MpAssignZero(a.data(), 4);
  EXPECT_EQ(a, Number(4, 0));
  const Number b{1, 2, 3, 4};
  MpAssign(a.data(), b.data(), 3);
  EXPECT_EQ(a, (Number{1, 2, 3, 0}));
}

TEST(MpAssignPow2, TopBitAndOutOfRange) {
  Number a(3, kFill);
  MpAssignPow2(a.data(), 3 * 32 - 1, 3);
  EXPECT_EQ(a, (Number{0, 0, 0x80000000u}));
  MpAssignPow2(a.data(), 3 * 32, 3);
  EXPECT_EQ(a, Number(3, 0));
  MpAssignPow2(a.data(), 33, 3);
  EXPECT_EQ(a, (Number{0, 2, 0}));
}

TEST(MpCompare, IgnoresDigitsAboveTheCount) {
  const Number b{5, 7, 9};
  const Number c{5, 7, 1};
  EXPECT_EQ(MpCompare(b.data(), c.data(), 2), 0);
  EXPECT_EQ(MpCompare(b.data(), c.data(), 3), 1);
  EXPECT_EQ(MpCompare(c.data(), b.data(), 3), -1);
  const Number d{6, 6, 9};
  EXPECT_EQ(MpCompare(b.data(), d.data(), 2), 1);  // decided by digit 1, not digit 0
  EXPECT_EQ(MpCompare(b.data(), d.data(), 0), 0);
}

TEST(MpIsZero, AndDigitCount) {
  const Number z(3, 0);
  const Number a{0, 7, 0};
  EXPECT_EQ(MpIsZero(z.data(), 3), 1);
  EXPECT_EQ(MpIsZero(a.data(), 0), 1);
  EXPECT_EQ(MpIsZero(a.data(), 2), 0);
  EXPECT_EQ(MpDigitCount(z.data(), 3), 0u);
  EXPECT_EQ(MpDigitCount(a.data(), 3), 2u);
  EXPECT_EQ(MpDigitCount(a.data(), 1), 0u);
}

TEST(MpAddSub, CarryAndBorrowOut) {
  const Number max{0xFFFFFFFFu, 0xFFFFFFFFu};
  const Number one = Small(1, 2);
  Number a(2);
  EXPECT_EQ(MpAdd(a.data(), max.data(), one.data(), 2), 1u);
  EXPECT_EQ(a, Number(2, 0));
  EXPECT_EQ(MpSub(a.data(), a.data(), one.data(), 2), 1u);
  EXPECT_EQ(a, max);
  EXPECT_EQ(MpSub(a.data(), a.data(), max.data(), 2), 0u);
  EXPECT_EQ(a, Number(2, 0));
}

TEST(MpShiftLeft, ByZeroCopiesAndBy32WritesNothing) {
  const Number b{0x80000001u, 0x40000000u};
  Number a(2, kFill);
  EXPECT_EQ(MpShiftLeft(a.data(), b.data(), 0, 2), 0u);
  EXPECT_EQ(a, b);
  Number untouched(2, kFill);
  EXPECT_EQ(MpShiftLeft(untouched.data(), b.data(), 32, 2), 0u);
  EXPECT_EQ(untouched, Number(2, kFill));
  EXPECT_EQ(MpShiftLeft(a.data(), b.data(), 2, 2), 1u);
  EXPECT_EQ(a, (Number{0x00000004u, 0x00000002u}));
}

TEST(MpShiftRight, ByZeroCopiesAndBy32WritesNothing) {
  const Number b{0x00000003u, 0x80000001u};
  Number a(2, kFill);
  EXPECT_EQ(MpShiftRight(a.data(), b.data(), 0, 2), 0u);
  EXPECT_EQ(a, b);
  Number untouched(2, kFill);
  EXPECT_EQ(MpShiftRight(untouched.data(), b.data(), 32, 2), 0u);
  EXPECT_EQ(untouched, Number(2, kFill));
  EXPECT_EQ(MpShiftRight(a.data(), b.data(), 2, 2), 0xC0000000u);
  EXPECT_EQ(a, (Number{0x40000000u, 0x20000000u}));
}

TEST(DigitHelpers, ExactResults) {
  MpDigit out[2];
  DigitMul(out, 0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(out[0], 1u);
  EXPECT_EQ(out[1], 0xFFFFFFFEu);
  EXPECT_EQ(DigitDiv(0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u), 0xFFFFFFFFu);
  EXPECT_EQ(DigitDiv(1, 0, 0x10000u), 0x10000u);
  EXPECT_EQ(DigitBitLength(0), 0u);
  EXPECT_EQ(DigitBitLength(1), 1u);
  EXPECT_EQ(DigitBitLength(0x80000000u), 32u);
}

TEST(DigitMulAccumulate, AddAndSubtractCarryDigits) {
  Number a{0xFFFFFFFFu, 0xFFFFFFFFu};
  const Number d{0xFFFFFFFFu, 0xFFFFFFFFu};
  // (2^64 - 1) + 0xFFFFFFFF * (2^64 - 1) = 2^96 - 2^32 → carry 0xFFFFFFFF.
  EXPECT_EQ(MpAddDigitMul(a.data(), 0xFFFFFFFFu, d.data(), 2), 0xFFFFFFFFu);
  EXPECT_EQ(a, (Number{0u, 0xFFFFFFFFu}));
  // Subtracting it again restores the start, borrowing the same carry.
  EXPECT_EQ(MpSubDigitMul(a.data(), 0xFFFFFFFFu, d.data(), 2), 0xFFFFFFFFu);
  EXPECT_EQ(a, (Number{0xFFFFFFFFu, 0xFFFFFFFFu}));
  EXPECT_EQ(MpAddDigitMul(a.data(), 0, d.data(), 2), 0u);
  EXPECT_EQ(MpSubDigitMul(a.data(), 0, d.data(), 2), 0u);
  EXPECT_EQ(a, d);
}

}  // namespace
}  // namespace marlinok::mp
