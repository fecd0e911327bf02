// Key set-up: parity written back, weak and semi-weak keys refused, the
// single-DES length limit, and two-key 3DES for every length but 24.
#include "symmetric/des_key_setup.h"

#include <gtest/gtest.h>

#include "support/hex.h"
#include "symmetric/block_engine.h"

namespace marlinok::symmetric {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

TEST(DesKeySetup, GivesEachByteOddParityInPlace) {
  Bytes key = FromHex("FF 03 01 02 FE 10 20 40");
  DesKeySchedule schedule;
  ASSERT_EQ(DesKeySetup(key.data(), key.size(), schedule), Status::Ok);
  EXPECT_EQ(ToHex(key), ToHex(FromHex("FE 02 01 02 FE 10 20 40")));
}

TEST(DesKeySetup, AllZeroKeyIsRefusedAndComesBackAsWeakKey) {
  Bytes key(8, 0x00);
  DesKeySchedule schedule;
  EXPECT_EQ(DesKeySetup(key.data(), key.size(), schedule), Status::DesKey);
  EXPECT_EQ(ToHex(key), ToHex(FromHex("0101010101010101")));
}

TEST(DesKeySetup, RefusesEveryWeakAndSemiWeakKey) {
  const char* const kWeak[] = {
      "0101010101010101", "FEFEFEFEFEFEFEFE", "E0E0E0E0F1F1F1F1", "1F1F1F1F0E0E0E0E",
      "01FE01FE01FE01FE", "FE01FE01FE01FE01", "1FE01FE00EF10EF1", "E01FE01FF10EF10E",
      "01E001E001F101F1", "E001E001F101F101", "1FFE1FFE0EFE0EFE", "FE1FFE1FFE0EFE0E",
      "011F011F010E010E", "1F011F010E010E01", "E0FEE0FEF1FEF1FE", "FEE0FEE0FEF1FEF1"};
  for (const char* hex : kWeak) {
    Bytes key = FromHex(hex);
    DesKeySchedule schedule;
    EXPECT_EQ(DesKeySetup(key.data(), key.size(), schedule), Status::DesKey) << hex;
    // Compared after the fix-up: the same key with every parity bit flipped.
    for (auto& b : key) b ^= 1;
    EXPECT_EQ(DesKeySetup(key.data(), key.size(), schedule), Status::DesKey) << hex;
  }
}

TEST(DesKeySetup, NineByteKeyIsBlockLengthAndUntouched) {
  Bytes key = FromHex("FF FF FF FF FF FF FF FF FF");
  DesKeySchedule schedule;
  EXPECT_EQ(DesKeySetup(key.data(), key.size(), schedule), Status::BlockLength);
  EXPECT_EQ(ToHex(key), ToHex(FromHex("FF FF FF FF FF FF FF FF FF")));
}

TEST(DesKeySetup, ShortLengthStillUsesEightBytes) {
  Bytes key = FromHex("0123456789ABCDEF");
  Bytes copy = key;
  DesKeySchedule shortSchedule;
  DesKeySchedule fullSchedule;
  ASSERT_EQ(DesKeySetup(key.data(), 3, shortSchedule), Status::Ok);
  ASSERT_EQ(DesKeySetup(copy.data(), 8, fullSchedule), Status::Ok);
  Bytes a = FromHex("4E6F772069732074");
  Bytes b = a;
  DesEngine(shortSchedule).Encrypt(a.data());
  DesEngine(fullSchedule).Encrypt(b.data());
  EXPECT_EQ(ToHex(a), ToHex(b));
}

TEST(TripleDesKeySetup, EveryLengthButTwentyFourIsTwoKeyAndLeavesThirdPartAlone) {
  // Third part all zero: a weak key if it were read.
  const Bytes original = FromHex("0123456789ABCDEF 23456789ABCDEF01 0000000000000000 00");
  for (std::size_t length : {0u, 5u, 16u, 23u, 25u}) {
    Bytes key = original;
    TripleDesKeySchedule schedule;
    EXPECT_EQ(TripleDesKeySetup(key.data(), length, schedule), Status::Ok) << length;
    EXPECT_EQ(ToHex(key), ToHex(original)) << length;
  }
  Bytes key = original;
  TripleDesKeySchedule schedule;
  EXPECT_EQ(TripleDesKeySetup(key.data(), 24, schedule), Status::DesKey);
}

TEST(TripleDesKeySetup, WeakSecondPartStopsWithEarlierPartsFixedAndLaterUntouched) {
  Bytes key = FromHex("FF23456789ABCDEF 0000000000000000 FFFFFFFFFFFFFFFF");
  TripleDesKeySchedule schedule;
  EXPECT_EQ(TripleDesKeySetup(key.data(), key.size(), schedule), Status::DesKey);
  EXPECT_EQ(ToHex(key), ToHex(FromHex("FE23456789ABCDEF 0101010101010101 FFFFFFFFFFFFFFFF")));
}

TEST(TripleDesKeySetup, EqualPartsAreAcceptedAndActAsSingleDes) {
  Bytes triple = FromHex("133457799BBCDFF1 133457799BBCDFF1 133457799BBCDFF1");
  Bytes single = FromHex("133457799BBCDFF1");
  TripleDesKeySchedule s3;
  DesKeySchedule s1;
  ASSERT_EQ(TripleDesKeySetup(triple.data(), triple.size(), s3), Status::Ok);
  ASSERT_EQ(DesKeySetup(single.data(), single.size(), s1), Status::Ok);
  Bytes a = FromHex("0123456789ABCDEF");
  Bytes b = a;
  TripleDesEngine(s3).Encrypt(a.data());
  DesEngine(s1).Encrypt(b.data());
  EXPECT_EQ(ToHex(a), "85e813540f0ab405");
  EXPECT_EQ(ToHex(a), ToHex(b));
}

}  // namespace
}  // namespace marlinok::symmetric
