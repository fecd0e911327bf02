// QM_Digest through its exported entry.
#include <gtest/gtest.h>

#include <random>

#include "digest/openssl_oracle.h"
#include "digest/sha1.h"
#include "marlinok.h"

namespace marlinok::digest {
namespace {

using test::Bytes;
using test::FromText;
using test::ToHex;

constexpr uint8_t kPoison = 0xA5;
constexpr const char* kMd5Empty = "d41d8cd98f00b204e9800998ecf8427e";
constexpr const char* kSha1Empty = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
constexpr const char* kMd5Abc = "900150983cd24fb0d6963f7d28e17f72";
constexpr const char* kSha1Abc = "a9993e364706816aba3e25717850c26c9cd0d89d";

bool AllPoison(const uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != kPoison) return false;
  }
  return true;
}

struct Call {
  Bytes digest = Bytes(64, kPoison);
  uint32_t length = 0;
  int32_t status = 0;
};

Call CallDigest(uint32_t algId, uint32_t length, const Bytes& data) {
  Call c;
  c.length = length;
  c.status =
      QM_Digest(c.digest.data(), &c.length, data.data(), static_cast<uint32_t>(data.size()), algId);
  return c;
}

// The buffer-size rules: too short a buffer is a size query that writes
// nothing; MD5 stores 16 on completion, SHA-1 leaves the length as given.
struct SizeCase {
  const char* name;
  uint32_t algId;
  uint32_t given;
  uint32_t expectedLength;
  const char* expectedDigest;  // null: nothing written
};

const SizeCase kSizeCases[] = {
    {"md5 15 is a size query", CALG_MD5, 15, 16, nullptr},
    {"md5 16 gets the digest", CALG_MD5, 16, 16, kMd5Abc},
    {"md5 64 gets the digest, length 16", CALG_MD5, 64, 16, kMd5Abc},
    {"sha1 19 is a size query", CALG_SHA1, 19, 20, nullptr},
    {"sha1 20 gets the digest", CALG_SHA1, 20, 20, kSha1Abc},
    {"sha1 64 gets the digest, length kept", CALG_SHA1, 64, 64, kSha1Abc},
};

TEST(QmDigest, BufferSizeRules) {
  for (const auto& k : kSizeCases) {
    const Call c = CallDigest(k.algId, k.given, FromText("abc"));
    EXPECT_EQ(c.status, ERR_OK) << k.name;
    EXPECT_EQ(c.length, k.expectedLength) << k.name;
    std::size_t written = 0;
    if (k.expectedDigest != nullptr) {
      written = k.algId == CALG_MD5 ? 16 : 20;
      EXPECT_EQ(ToHex(c.digest.data(), written), k.expectedDigest) << k.name;
    }
    EXPECT_TRUE(AllPoison(c.digest.data() + written, c.digest.size() - written)) << k.name;
  }
}

// 0xFFFFFFFF is a large size, not a negative one.
TEST(QmDigest, LengthComparisonIsUnsigned) {
  const Call md5 = CallDigest(CALG_MD5, 0xFFFFFFFFu, FromText("abc"));
  EXPECT_EQ(md5.status, ERR_OK);
  EXPECT_EQ(md5.length, 16u);
  EXPECT_EQ(ToHex(md5.digest.data(), 16), kMd5Abc);
  const Call sha1 = CallDigest(CALG_SHA1, 0x80000000u, FromText("abc"));
  EXPECT_EQ(sha1.status, ERR_OK);
  EXPECT_EQ(sha1.length, 0x80000000u);
  EXPECT_EQ(ToHex(sha1.digest.data(), 20), kSha1Abc);
}

TEST(QmDigest, NullDigestIsASizeQueryWhateverTheLength) {
  const Bytes data = FromText("abc");
  for (uint32_t given : {0u, 16u, 20u, 64u, 0xFFFFFFFFu}) {
    uint32_t length = given;
    EXPECT_EQ(QM_Digest(nullptr, &length, data.data(), 3, CALG_MD5), ERR_OK);
    EXPECT_EQ(length, 16u) << given;
    length = given;
    EXPECT_EQ(QM_Digest(nullptr, &length, data.data(), 3, CALG_SHA1), ERR_OK);
    EXPECT_EQ(length, 20u) << given;
  }
}

TEST(QmDigest, EmptyMessageDoesNotReadData) {
  uint8_t digest[20];
  uint32_t length = 16;
  ASSERT_EQ(QM_Digest(digest, &length, nullptr, 0, CALG_MD5), ERR_OK);
  EXPECT_EQ(ToHex(digest, 16), kMd5Empty);
  length = 20;
  ASSERT_EQ(QM_Digest(digest, &length, nullptr, 0, CALG_SHA1), ERR_OK);
  EXPECT_EQ(ToHex(digest, 20), kSha1Empty);
}

TEST(QmDigest, OtherAlgorithmsFailAndTouchNothing) {
  const Bytes data = FromText("abc");
  for (uint32_t algId : {0u, 1u, 0x8001u, 0x8002u, 0x8005u, 0x800Cu, 0x6603u, 0xFFFFFFFFu}) {
    Call c = CallDigest(algId, 64, data);
    EXPECT_EQ(c.status, ERR_FAILED) << std::hex << algId;
    EXPECT_EQ(c.length, 64u) << std::hex << algId;
    EXPECT_TRUE(AllPoison(c.digest.data(), c.digest.size())) << std::hex << algId;
    uint32_t length = 3;
    EXPECT_EQ(QM_Digest(nullptr, &length, data.data(), 3, algId), ERR_FAILED);
    EXPECT_EQ(length, 3u);
  }
}

TEST(QmDigest, Md5NullDataWithLengthIsRefused) {
  Bytes digest(64, kPoison);
  uint32_t length = 64;
  EXPECT_EQ(QM_Digest(digest.data(), &length, nullptr, 10, CALG_MD5), ERR_FAILED);
  EXPECT_EQ(length, 64u);
  EXPECT_TRUE(AllPoison(digest.data(), digest.size()));
}

TEST(QmDigest, Sha1NullDataWithLengthIsRefused) {
  Bytes digest(64, kPoison);
  uint32_t length = 64;
  EXPECT_EQ(QM_Digest(digest.data(), &length, nullptr, 10, CALG_SHA1), ERR_FAILED);
  EXPECT_EQ(length, 64u);
  EXPECT_TRUE(AllPoison(digest.data(), digest.size()));
}

// The size query reads no data, so it is answered even without any.
TEST(QmDigest, SizeQueryWithNullDataIsAnswered) {
  uint32_t length = 0;
  EXPECT_EQ(QM_Digest(nullptr, &length, nullptr, 10, CALG_MD5), ERR_OK);
  EXPECT_EQ(length, 16u);
  length = 0;
  EXPECT_EQ(QM_Digest(nullptr, &length, nullptr, 10, CALG_SHA1), ERR_OK);
  EXPECT_EQ(length, 20u);
}

TEST(QmDigest, NullDigestLengthIsRefused) {
  const Bytes data = FromText("abc");
  Bytes digest(64, kPoison);
  for (uint32_t algId : {CALG_MD5, CALG_SHA1}) {
    EXPECT_EQ(QM_Digest(digest.data(), nullptr, data.data(), 3, algId), ERR_FAILED);
    EXPECT_EQ(QM_Digest(nullptr, nullptr, data.data(), 3, algId), ERR_FAILED);
  }
  EXPECT_TRUE(AllPoison(digest.data(), digest.size()));
}

TEST(QmDigest, MatchesOpenSslOnBothBackends) {
  std::mt19937 rng(5);
  for (bool pinPortable : {false, true}) {
    Sha1PinPortableBackend(pinPortable);
    for (std::size_t length : {0u, 55u, 56u, 63u, 64u, 65u, 1000u, 16384u}) {
      const Bytes data = test::RandomBytes(rng, length);
      const Call md5 = CallDigest(CALG_MD5, 16, data);
      EXPECT_EQ(ToHex(md5.digest.data(), 16), ToHex(test::OracleMd5(data))) << length;
      const Call sha1 = CallDigest(CALG_SHA1, 20, data);
      EXPECT_EQ(ToHex(sha1.digest.data(), 20), ToHex(test::OracleSha1(data))) << length;
    }
  }
  Sha1PinPortableBackend(false);
}

}  // namespace
}  // namespace marlinok::digest
