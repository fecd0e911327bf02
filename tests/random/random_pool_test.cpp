#include "random/random_pool.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>

#include "support/fixed_clock.h"
#include "support/hex.h"

namespace marlinok {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

Bytes OpenSslMd5(const uint8_t* data, std::size_t length) {
  Bytes out(16);
  unsigned int outLength = 0;
  EVP_Digest(data, length, out.data(), &outLength, EVP_md5(), nullptr);
  return out;
}

RandomPool ZeroPool() {
  RandomPool pool;
  std::memset(&pool, 0, sizeof pool);
  return pool;
}

Bytes Counter(const RandomPool& pool) { return Bytes(pool.counter, pool.counter + 16); }

TEST(RandomPoolTest, WorkedExampleAtFixedInstant) {
  test::FixedClock clock(test::kExampleInstant);
  RandomPool pool = ZeroPool();
  RandomPoolReset(&pool);
  // Thirteen mixes of the same 20-byte text, then the 20-byte draw.
  char text[20] = "202612619532345";
  for (int i = 0; i < 13; ++i) RandomPoolMix(&pool, reinterpret_cast<uint8_t*>(text), 20);
  EXPECT_EQ(ToHex(Counter(pool)), "f080fa5dbf710ce3a5c1263ad1666e10");
  EXPECT_EQ(RandomPoolSeedNeeded(&pool), 0u);

  RandomPool seeded = ZeroPool();
  SeedPoolFromClockReadings(&seeded);
  EXPECT_EQ(test::FixedClock::Readings(), 13);
  EXPECT_EQ(ToHex(Counter(seeded)), "f080fa5dbf710ce3a5c1263ad1666e12");
  EXPECT_EQ(seeded.outputLeft, 12u);

  uint8_t discarded[20];
  ASSERT_EQ(RandomPoolDraw(discarded, 20, &pool), Status::Ok);
  EXPECT_EQ(ToHex(discarded, 20), "24ba7bd7cebfa80f890bdb4b09ca608cc7a1d13d");
  EXPECT_EQ(0, std::memcmp(&pool, &seeded, sizeof pool));
}

TEST(RandomPoolTest, GenRandomWorkedExample) {
  test::FixedClock clock(test::kExampleInstant);
  uint8_t out[16];
  DataBlob blob{16, out};
  ASSERT_EQ(QM_GenRandom(&blob), ERR_OK);
  EXPECT_EQ(ToHex(out, 16), "c7a1d13de35475a588bc7c563b01879e");
}

TEST(RandomPoolTest, GenRandomIsMd5OfSteppedSumOfThirteenTextDigests) {
  const platform::SystemTime instant{1999, 1, 5, 2, 3, 4, 5, 999};
  test::FixedClock clock(instant);
  char text[20] = {};
  std::strcpy(text, "199912345999");
  const Bytes d = OpenSslMd5(reinterpret_cast<uint8_t*>(text), 20);
  uint8_t c[16] = {};
  for (int round = 0; round < 13; ++round) {
    unsigned carry = 0;
    for (int i = 15; i >= 0; --i) {
      carry += c[i] + d[i];
      c[i] = static_cast<uint8_t>(carry);
      carry >>= 8;
    }
  }
  RandomPoolStepCounter(c);
  const Bytes expected = OpenSslMd5(c, 16);

  uint8_t out[16];
  DataBlob blob{16, out};
  ASSERT_EQ(QM_GenRandom(&blob), ERR_OK);
  EXPECT_EQ(ToHex(out, 16), ToHex(expected));
}

TEST(RandomPoolTest, CounterStepCarriesOnlyFromBytesThatWereZero) {
  struct Case {
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"000000000000000000000000000000ff", "00000000000000000000000000000000"},
      {"00000000000000000000000000000100", "00000000000000000000000000000201"},
      {"00000000000000000000000000000000", "01010101010101010101010101010101"},
      {"0000000000000000000000000000fe05", "0000000000000000000000000000fe06"},
  };
  for (const Case& c : cases) {
    Bytes counter = FromHex(c.before);
    RandomPoolStepCounter(counter.data());
    EXPECT_EQ(ToHex(counter), c.after) << c.before;
  }
}

TEST(RandomPoolTest, SeedingThresholdIs256Bytes) {
  RandomPool pool = ZeroPool();
  RandomPoolReset(&pool);
  uint8_t seed[300] = {};
  uint8_t out[4] = {0xA5, 0xA5, 0xA5, 0xA5};
  RandomPool before = pool;
  EXPECT_EQ(RandomPoolDraw(out, 4, &pool), Status::NeedSeed);
  EXPECT_EQ(0, std::memcmp(&before, &pool, sizeof pool));
  RandomPoolMix(&pool, seed, 255);
  EXPECT_EQ(RandomPoolSeedNeeded(&pool), 1u);
  EXPECT_EQ(RandomPoolDraw(out, 4, &pool), Status::NeedSeed);
  EXPECT_EQ(ToHex(out, 4), "a5a5a5a5");
  RandomPoolMix(&pool, seed, 1);
  EXPECT_EQ(RandomPoolDraw(out, 4, &pool), Status::Ok);

  RandomPoolReset(&pool);
  RandomPoolMix(&pool, seed, 300);
  EXPECT_EQ(RandomPoolSeedNeeded(&pool), 0u);
}

TEST(RandomPoolTest, DrawComputesBlocksOnlyWhenNeeded) {
  RandomPool pool = ZeroPool();
  // A zero record is seeded: its stream starts with MD5 of sixteen zero bytes.
  const uint8_t zeros[16] = {};
  const Bytes first = OpenSslMd5(zeros, 16);
  uint8_t one[16] = {};
  RandomPoolStepCounter(one);
  const Bytes second = OpenSslMd5(one, 16);

  uint8_t out[32];
  RandomPool untouched = pool;
  ASSERT_EQ(RandomPoolDraw(out, 0, &pool), Status::Ok);
  EXPECT_EQ(0, std::memcmp(&untouched, &pool, sizeof pool));

  ASSERT_EQ(RandomPoolDraw(out, 16, &pool), Status::Ok);
  EXPECT_EQ(ToHex(out, 16), ToHex(first));
  EXPECT_EQ(pool.outputLeft, 0u);

  RandomPool again = ZeroPool();
  ASSERT_EQ(RandomPoolDraw(out, 17, &again), Status::Ok);
  EXPECT_EQ(ToHex(out, 17), ToHex(first) + ToHex(second).substr(0, 2));
  EXPECT_EQ(again.outputLeft, 15u);
  // Draws continue the stream where the last one stopped.
  ASSERT_EQ(RandomPoolDraw(out, 3, &again), Status::Ok);
  EXPECT_EQ(ToHex(out, 3), ToHex(second).substr(2, 6));
}

TEST(RandomPoolTest, SeedPoolFromClockReportsFortyBytesAndOne) {
  test::FixedClock clock(test::kExampleInstant);
  RandomPool storage = ZeroPool();
  DataBlob blob{0, reinterpret_cast<uint8_t*>(&storage)};
  EXPECT_EQ(SeedPoolFromClock(&blob), 1);
  EXPECT_EQ(blob.length, 40u);
  EXPECT_EQ(storage.outputLeft, 12u);
  EXPECT_EQ(storage.seedBytesNeeded, 0u);
}

TEST(GenRandomTest, LengthRulesAndRefusals) {
  uint8_t out[17];
  std::memset(out, 0xA5, sizeof out);
  DataBlob tooLong{17, out};
  EXPECT_EQ(QM_GenRandom(&tooLong), ERR_FAILED);
  EXPECT_EQ(ToHex(out, 17), "a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5");

  DataBlob none{0, out};
  EXPECT_EQ(QM_GenRandom(&none), ERR_OK);
  EXPECT_EQ(out[0], 0xA5);

  EXPECT_EQ(QM_GenRandom(nullptr), ERR_FAILED);
  DataBlob nullData{4, nullptr};
  EXPECT_EQ(QM_GenRandom(&nullData), ERR_FAILED);
  DataBlob emptyNull{0, nullptr};
  EXPECT_EQ(QM_GenRandom(&emptyNull), ERR_OK);

  DataBlob sixteen{16, out};
  EXPECT_EQ(QM_GenRandom(&sixteen), ERR_OK);
  EXPECT_EQ(out[16], 0xA5);
}

TEST(GenRandomTest, SameInstantGivesSameBytes) {
  test::FixedClock clock(test::kExampleInstant);
  uint8_t a[8], b[8];
  DataBlob first{8, a}, second{8, b};
  ASSERT_EQ(QM_GenRandom(&first), ERR_OK);
  ASSERT_EQ(QM_GenRandom(&second), ERR_OK);
  EXPECT_EQ(ToHex(a, 8), ToHex(b, 8));
}

}  // namespace
}  // namespace marlinok
