// The key-blob codec against OpenSSL, the reference reader and writer of the
// CryptoAPI blob layouts: OpenSSL's blobs read into the records of the same
// key, and records written back give OpenSSL's bytes exactly.
#include "keyblob/key_blob.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/byte_order.h"
#include "marlinok.h"
#include "support/openssl_rsa.h"

namespace marlinok::keyblob {
namespace {

using test::Bytes;

class RsaBlobTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    EVP_PKEY* key = test::SharedRsaKey(GetParam());
    numbers_ = test::NumbersOf(key);
    publicBlob_ = test::OpenSslKeyBlob(key, false);
    privateBlob_ = test::OpenSslKeyBlob(key, true);
    ASSERT_EQ(publicBlob_.size(), PublicBlobBytes(GetParam()));
    ASSERT_EQ(privateBlob_.size(), PrivateBlobBytes(GetParam()));
  }
  test::RsaNumbers numbers_;
  Bytes publicBlob_, privateBlob_;
};

TEST_P(RsaBlobTest, PublicBlobReadsIntoTheRecordAndWritesBackTheSameBytes) {
  rsa::PublicKeyRecord record;
  ASSERT_EQ(ReadPublicKeyBlob(publicBlob_.data(), static_cast<uint32_t>(publicBlob_.size()),
                              &record),
            Status::Ok);
  EXPECT_EQ(Bytes(record.bytes, record.bytes + sizeof record.bytes),
            test::PublicRecordOf(numbers_));

  Bytes written(kMaxPublicBlobBytes, 0xA5);
  uint32_t size = 0;
  ASSERT_EQ(WritePublicKeyBlob(record, LoadLe32(publicBlob_.data() + 4), written.data(), &size),
            Status::Ok);
  written.resize(size);
  EXPECT_EQ(written, publicBlob_);
}

TEST_P(RsaBlobTest, PrivateBlobReadsIntoTheRecordAndWritesBackTheSameBytes) {
  rsa::PrivateKeyRecord record;
  ASSERT_EQ(ReadPrivateKeyBlob(privateBlob_.data(), static_cast<uint32_t>(privateBlob_.size()),
                               &record),
            Status::Ok);
  EXPECT_EQ(Bytes(record.bytes, record.bytes + sizeof record.bytes),
            test::PrivateRecordOf(numbers_));

  Bytes written(PrivateBlobBytes(GetParam()) + 8, 0xA5);
  uint32_t size = 0;
  ASSERT_EQ(WritePrivateKeyBlob(record, LoadLe32(privateBlob_.data() + 4), written.data(), &size),
            Status::Ok);
  ASSERT_EQ(size, privateBlob_.size());
  EXPECT_EQ(Bytes(written.begin(), written.begin() + size), privateBlob_);
  EXPECT_EQ(written[size], 0xA5) << "wrote past the blob";
}

// One byte short of what the bit length asks for is refused, and the record
// keeps its bytes.
TEST_P(RsaBlobTest, BlobOneByteShortIsRefusedAndTheRecordIsUntouched) {
  rsa::PrivateKeyRecord privateRecord;
  std::memset(privateRecord.bytes, 0xA5, sizeof privateRecord.bytes);
  EXPECT_EQ(ReadPrivateKeyBlob(privateBlob_.data(), static_cast<uint32_t>(privateBlob_.size() - 1),
                               &privateRecord),
            Status::Failed);
  rsa::PublicKeyRecord publicRecord;
  std::memset(publicRecord.bytes, 0xA5, sizeof publicRecord.bytes);
  EXPECT_EQ(ReadPublicKeyBlob(publicBlob_.data(), static_cast<uint32_t>(publicBlob_.size() - 1),
                              &publicRecord),
            Status::Failed);
  for (uint8_t b : privateRecord.bytes) ASSERT_EQ(b, 0xA5);
  for (uint8_t b : publicRecord.bytes) ASSERT_EQ(b, 0xA5);
}

INSTANTIATE_TEST_SUITE_P(Lengths, RsaBlobTest, ::testing::Values(512u, 1024u, 2048u));

// Bit lengths whose numbers a blob or a record cannot hold whole, in a blob
// long enough for anything: refused both ways.
TEST(RsaBlobLengthTest, LengthsThatWouldTruncateANumberAreRefused) {
  struct Case {
    uint32_t bits;
    bool publicHolds, privateHolds;
  };
  const Case cases[] = {{1024, true, true},  {1032, true, false},  {1025, false, false},
                        {2048, true, true},  {2064, false, false}, {0xFFFFFFF0u, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    Bytes blob(4096, 0);
    StoreLe32(blob.data() + 12, c.bits);
    rsa::PublicKeyRecord publicRecord;
    rsa::PrivateKeyRecord privateRecord;
    const auto length = static_cast<uint32_t>(blob.size());
    EXPECT_EQ(ReadPublicKeyBlob(blob.data(), length, &publicRecord) == Status::Ok, c.publicHolds);
    EXPECT_EQ(ReadPrivateKeyBlob(blob.data(), length, &privateRecord) == Status::Ok,
              c.privateHolds);

    std::memset(privateRecord.bytes, 0, sizeof privateRecord.bytes);
    StoreLe32(privateRecord.bytes, c.bits);
    std::memcpy(publicRecord.bytes, privateRecord.bytes, sizeof publicRecord.bytes);
    uint32_t size = 0;
    EXPECT_EQ(WritePublicKeyBlob(publicRecord, CALG_RSA_KEYX, blob.data(), &size) == Status::Ok,
              c.publicHolds);
    EXPECT_EQ(WritePrivateKeyBlob(privateRecord, CALG_RSA_KEYX, blob.data(), &size) == Status::Ok,
              c.privateHolds);
  }
}

TEST(SymmetricBlobTest, HeaderThenKeyAndBackAgain) {
  const Bytes key = test::FromHex("0123456789abcdeffedcba9876543210");
  Bytes blob(kSymmetricBlobHeaderBytes);
  WriteSymmetricBlobHeader(blob.data(), CALG_3DES, CALG_RSA_KEYX);
  EXPECT_EQ(blob, test::FromHex("01020000" "03660000" "00a40000"));
  blob.insert(blob.end(), key.begin(), key.end());

  const uint8_t* keyBytes = nullptr;
  uint32_t keyLength = 0;
  ASSERT_EQ(SymmetricBlobKey(blob.data(), static_cast<uint32_t>(blob.size()), &keyBytes, &keyLength),
            Status::Ok);
  EXPECT_EQ(Bytes(keyBytes, keyBytes + keyLength), key);
  EXPECT_EQ(SymmetricBlobKey(blob.data(), kSymmetricBlobHeaderBytes, &keyBytes, &keyLength),
            Status::Failed);
}

}  // namespace
}  // namespace marlinok::keyblob
