#include "digest/md5.h"

#include <gtest/gtest.h>

#include <random>

#include "digest/openssl_oracle.h"

namespace marlinok::digest {
namespace {

using test::Bytes;
using test::FromText;
using test::ToHex;

Bytes Md5Of(const Bytes& data) {
  Bytes out(kMd5DigestBytes);
  Md5(out.data(), data.data(), static_cast<uint32_t>(data.size()));
  return out;
}

// Feeds `data` in pieces of 1 to `maxPiece` bytes.
Bytes Md5InPieces(const Bytes& data, std::mt19937& rng, std::size_t maxPiece) {
  Md5Context ctx;
  Md5Begin(&ctx);
  std::size_t at = 0;
  while (at < data.size()) {
    const std::size_t piece = std::min<std::size_t>(1 + rng() % maxPiece, data.size() - at);
    Md5Feed(&ctx, data.data() + at, static_cast<uint32_t>(piece));
    at += piece;
  }
  Bytes out(kMd5DigestBytes);
  Md5Finish(out.data(), &ctx);
  return out;
}

struct Vector {
  const char* message;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, Rfc1321Vectors) {
  for (const auto& v : kRfc1321) {
    EXPECT_EQ(ToHex(Md5Of(FromText(v.message))), v.digest) << '"' << v.message << '"';
  }
}

TEST(Md5, MatchesOpenSslAtBoundariesAndRandomLengths) {
  std::mt19937 rng(1321);
  for (std::size_t length : test::DifferentialLengths()) {
    const Bytes data = test::RandomBytes(rng, length);
    const Bytes expected = test::OracleMd5(data);
    EXPECT_EQ(ToHex(Md5Of(data)), ToHex(expected)) << "length " << length;
    EXPECT_EQ(ToHex(Md5InPieces(data, rng, 7)), ToHex(expected)) << "small pieces, " << length;
    EXPECT_EQ(ToHex(Md5InPieces(data, rng, 150)), ToHex(expected)) << "large pieces, " << length;
  }
}

TEST(Md5, ManyBlocksInOneFeedMatchOpenSsl) {
  std::mt19937 rng(7);
  const Bytes data = test::RandomBytes(rng, 16 * 1024 + 3);
  EXPECT_EQ(ToHex(Md5Of(data)), ToHex(test::OracleMd5(data)));
}

TEST(Md5, FeedOfZeroBytesDoesNotReadData) {
  Md5Context ctx;
  Md5Begin(&ctx);
  Md5Feed(&ctx, nullptr, 0);
  Bytes out(kMd5DigestBytes);
  Md5Finish(out.data(), &ctx);
  EXPECT_EQ(ToHex(out), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, FinishWipesTheWholeContext) {
  Md5Context ctx;
  Md5Begin(&ctx);
  const Bytes data = FromText("message digest");
  Md5Feed(&ctx, data.data(), static_cast<uint32_t>(data.size()));
  uint8_t out[kMd5DigestBytes];
  Md5Finish(out, &ctx);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&ctx);
  for (std::size_t i = 0; i < sizeof ctx; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

}  // namespace
}  // namespace marlinok::digest
