#include "digest/sha1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "digest/openssl_oracle.h"

namespace marlinok::digest {
namespace {

using test::Bytes;
using test::FromText;
using test::ToHex;

Bytes Sha1Of(const Bytes& data) {
  Sha1Context ctx;
  EXPECT_EQ(Sha1Begin(&ctx), kSha1Success);
  EXPECT_EQ(Sha1Feed(&ctx, data.data(), static_cast<uint32_t>(data.size())), kSha1Success);
  Bytes out(kSha1DigestBytes);
  EXPECT_EQ(Sha1Finish(&ctx, out.data()), kSha1Success);
  return out;
}

Bytes Sha1InPieces(const Bytes& data, std::mt19937& rng, std::size_t maxPiece) {
  Sha1Context ctx;
  EXPECT_EQ(Sha1Begin(&ctx), kSha1Success);
  std::size_t at = 0;
  while (at < data.size()) {
    const std::size_t piece = std::min<std::size_t>(1 + rng() % maxPiece, data.size() - at);
    EXPECT_EQ(Sha1Feed(&ctx, data.data() + at, static_cast<uint32_t>(piece)), kSha1Success);
    at += piece;
  }
  Bytes out(kSha1DigestBytes);
  EXPECT_EQ(Sha1Finish(&ctx, out.data()), kSha1Success);
  return out;
}

// Every known-answer and differential test runs once per compression back end.
class Sha1Backends : public ::testing::TestWithParam<Sha1Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Sha1Backend::ShaExtensions && !Sha1ShaExtensionsAvailable()) {
      GTEST_SKIP() << "the processor has no SHA extensions";
    }
    Sha1PinPortableBackend(GetParam() == Sha1Backend::Portable);
    ASSERT_EQ(Sha1ActiveBackend(), GetParam());
  }
  void TearDown() override { Sha1PinPortableBackend(false); }
};

TEST_P(Sha1Backends, Fips180Abc) {
  EXPECT_EQ(ToHex(Sha1Of(FromText("abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST_P(Sha1Backends, Fips180TwoBlockMessage) {
  EXPECT_EQ(ToHex(Sha1Of(FromText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST_P(Sha1Backends, Fips180MillionA) {
  const Bytes a(1000000, 'a');
  EXPECT_EQ(ToHex(Sha1Of(a)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  // The same message in uneven pieces.
  std::mt19937 rng(180);
  EXPECT_EQ(ToHex(Sha1InPieces(a, rng, 1000)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST_P(Sha1Backends, MatchesOpenSslAtBoundariesAndRandomLengths) {
  std::mt19937 rng(1801);
  for (std::size_t length : test::DifferentialLengths()) {
    const Bytes data = test::RandomBytes(rng, length);
    const Bytes expected = test::OracleSha1(data);
    EXPECT_EQ(ToHex(Sha1Of(data)), ToHex(expected)) << "length " << length;
    EXPECT_EQ(ToHex(Sha1InPieces(data, rng, 7)), ToHex(expected)) << "small pieces, " << length;
    EXPECT_EQ(ToHex(Sha1InPieces(data, rng, 150)), ToHex(expected)) << "large pieces, " << length;
  }
}

TEST_P(Sha1Backends, ManyBlocksInOneFeedMatchOpenSsl) {
  std::mt19937 rng(11);
  const Bytes data = test::RandomBytes(rng, 16 * 1024 + 5);
  EXPECT_EQ(ToHex(Sha1Of(data)), ToHex(test::OracleSha1(data)));
}

INSTANTIATE_TEST_SUITE_P(Sha1, Sha1Backends,
                         ::testing::Values(Sha1Backend::Portable, Sha1Backend::ShaExtensions),
                         [](const ::testing::TestParamInfo<Sha1Backend>& param) {
                           return std::string(
                               param.param == Sha1Backend::Portable ? "Portable" : "ShaExtensions");
                         });

TEST(Sha1Engine, ShaExtensionsAreChosenWhenPresent) {
  Sha1PinPortableBackend(false);
  EXPECT_EQ(Sha1ActiveBackend(),
            Sha1ShaExtensionsAvailable() ? Sha1Backend::ShaExtensions : Sha1Backend::Portable);
}

// ---- Engine statuses ---------------------------------------------------

TEST(Sha1Engine, BeginRefusesNullContext) { EXPECT_EQ(Sha1Begin(nullptr), kSha1Null); }

TEST(Sha1Engine, FeedOfZeroBytesSucceedsWithoutLooking) {
  EXPECT_EQ(Sha1Feed(nullptr, nullptr, 0), kSha1Success);
}

TEST(Sha1Engine, FeedRefusesNullContext) {
  const uint8_t byte = 'a';
  EXPECT_EQ(Sha1Feed(nullptr, &byte, 1), kSha1Null);
}

TEST(Sha1Engine, FeedRefusesNullBytesAndAbsorbsNothing) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  EXPECT_EQ(Sha1Feed(&ctx, nullptr, 5), kSha1Null);
  EXPECT_EQ(ctx.corrupted, 0);
  uint8_t out[kSha1DigestBytes];
  ASSERT_EQ(Sha1Finish(&ctx, out), kSha1Success);
  EXPECT_EQ(ToHex(out, sizeof out), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Sha1Engine, FinishRefusesNullContextOrOutput) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  uint8_t out[kSha1DigestBytes];
  EXPECT_EQ(Sha1Finish(nullptr, out), kSha1Null);
  EXPECT_EQ(Sha1Finish(&ctx, nullptr), kSha1Null);
  EXPECT_EQ(ctx.computed, 0);
}

TEST(Sha1Engine, FinishClearsBlockAndLengthAndSetsComputed) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  const Bytes data = FromText("abc");
  ASSERT_EQ(Sha1Feed(&ctx, data.data(), 3), kSha1Success);
  EXPECT_EQ(ctx.lengthLow, 24u);
  EXPECT_EQ(ctx.blockIndex, 3);
  uint8_t out[kSha1DigestBytes];
  ASSERT_EQ(Sha1Finish(&ctx, out), kSha1Success);
  EXPECT_EQ(ctx.computed, 1);
  EXPECT_EQ(ctx.lengthLow, 0u);
  EXPECT_EQ(ctx.lengthHigh, 0u);
  for (uint8_t b : ctx.block) ASSERT_EQ(b, 0);
}

TEST(Sha1Engine, SecondFinishWritesTheSameDigest) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  const Bytes data = FromText("abc");
  ASSERT_EQ(Sha1Feed(&ctx, data.data(), 3), kSha1Success);
  uint8_t first[kSha1DigestBytes];
  uint8_t second[kSha1DigestBytes];
  std::memset(second, 0xA5, sizeof second);
  ASSERT_EQ(Sha1Finish(&ctx, first), kSha1Success);
  ASSERT_EQ(Sha1Finish(&ctx, second), kSha1Success);
  EXPECT_EQ(ToHex(first, sizeof first), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(ToHex(second, sizeof second), ToHex(first, sizeof first));
}

TEST(Sha1Engine, FeedAfterFinishRecordsStateError) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  uint8_t out[kSha1DigestBytes];
  ASSERT_EQ(Sha1Finish(&ctx, out), kSha1Success);
  const uint8_t byte = 'a';
  EXPECT_EQ(Sha1Feed(&ctx, &byte, 1), kSha1StateError);
  EXPECT_EQ(ctx.corrupted, kSha1StateError);
  // The spoiled context now refuses to hand out a digest.
  uint8_t again[kSha1DigestBytes];
  std::memset(again, 0xA5, sizeof again);
  EXPECT_EQ(Sha1Finish(&ctx, again), kSha1StateError);
  for (uint8_t b : again) ASSERT_EQ(b, 0xA5);
}

TEST(Sha1Engine, CorruptedContextReturnsItsRecordedStatus) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  ctx.corrupted = kSha1Null;
  const uint8_t byte = 'a';
  EXPECT_EQ(Sha1Feed(&ctx, &byte, 1), kSha1Null);
  EXPECT_EQ(ctx.lengthLow, 0u);
  EXPECT_EQ(ctx.blockIndex, 0);
}

TEST(Sha1Engine, LengthUpToTheLimitIsAccepted) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  // 2^64 - 16 bits so far: one more byte fits exactly, a second does not.
  ctx.lengthHigh = 0xFFFFFFFFu;
  ctx.lengthLow = 0xFFFFFFF0u;
  const uint8_t byte = 'a';
  EXPECT_EQ(Sha1Feed(&ctx, &byte, 1), kSha1Success);
  EXPECT_EQ(ctx.lengthHigh, 0xFFFFFFFFu);
  EXPECT_EQ(ctx.lengthLow, 0xFFFFFFF8u);
  EXPECT_EQ(ctx.corrupted, 0);
}

TEST(Sha1Engine, LengthOverflowRecordsNullStatusAndStops) {
  Sha1Context ctx;
  ASSERT_EQ(Sha1Begin(&ctx), kSha1Success);
  ctx.lengthHigh = 0xFFFFFFFFu;
  ctx.lengthLow = 0xFFFFFFF0u;
  const Bytes data = FromText("abcdef");
  // The first byte fits, the second wraps the count: it is the last absorbed.
  EXPECT_EQ(Sha1Feed(&ctx, data.data(), static_cast<uint32_t>(data.size())), kSha1Null);
  EXPECT_EQ(ctx.corrupted, kSha1Null);
  EXPECT_EQ(ctx.blockIndex, 2);
  EXPECT_EQ(ctx.lengthHigh, 0u);
  EXPECT_EQ(ctx.lengthLow, 0u);
  uint8_t out[kSha1DigestBytes];
  std::memset(out, 0xA5, sizeof out);
  EXPECT_EQ(Sha1Finish(&ctx, out), kSha1Null);
  for (uint8_t b : out) ASSERT_EQ(b, 0xA5);
  EXPECT_EQ(Sha1Feed(&ctx, data.data(), 1), kSha1Null);
}

}  // namespace
}  // namespace marlinok::digest
