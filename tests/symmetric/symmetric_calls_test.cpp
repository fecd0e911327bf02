// QM_SymmetricEncrypt and QM_SymmetryDecrypt at the interface: size queries,
// output-length rules, key write-back, refusals that write nothing, and the
// known answers through the calls.
#include <gtest/gtest.h>

#include "marlinok.h"
#include "support/hex.h"

namespace marlinok::test {
namespace {

constexpr uint8_t kFill = 0xA5;

using Call = int32_t(MARLINOK_CALL*)(DataBlob*, uint32_t, uint32_t, const uint8_t*, uint32_t,
                                     uint8_t*, uint32_t*, uint32_t, uint32_t);

int32_t CallWith(Call call, Bytes& key, const Bytes& input, Bytes& output, uint32_t& outputLength,
                 uint32_t algId, uint32_t mode) {
  DataBlob blob{static_cast<uint32_t>(key.size()), key.data()};
  return call(&blob, 0, 0, input.data(), static_cast<uint32_t>(input.size()), output.data(),
              &outputLength, algId, mode);
}

// Runs a whole message with separate buffers; the output is cut to the input's length.
Bytes Crypt(Call call, Bytes key, const Bytes& input, uint32_t algId, uint32_t mode) {
  Bytes output(input.size() + 8, kFill);
  uint32_t outputLength = static_cast<uint32_t>(output.size());
  EXPECT_EQ(CallWith(call, key, input, output, outputLength, algId, mode), ERR_OK);
  output.resize(input.size());
  return output;
}

Bytes Encrypt(const Bytes& key, const Bytes& input, uint32_t algId, uint32_t mode) {
  return Crypt(&QM_SymmetricEncrypt, key, input, algId, mode);
}

const Bytes kTripleKey = FromHex("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");

TEST(SymmetricCalls, DesEcbGivesStandardAnswerAndCbcOverOneBlockMatches) {
  const Bytes key = FromHex("0123456789ABCDEF");
  const Bytes plain = FromHex("4E6F772069732074");
  EXPECT_EQ(ToHex(Encrypt(key, plain, CALG_DES, CRYPT_MODE_ECB)), "3fa40e8a984d4815");
  EXPECT_EQ(ToHex(Encrypt(key, plain, CALG_DES, CRYPT_MODE_CBC)), "3fa40e8a984d4815");
}

TEST(SymmetricCalls, Rfc6229Rc4KeyStream) {
  const struct {
    const char* key;
    std::size_t offset;
    const char* stream;
  } kVectors[] = {
      {"0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8 6982944f18fc82d589c403a47a0d0919"},
      {"0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae 1cfcf62b03eddb641d77dfcf7f8d8c93"},
      {"0102030405", 4096, "ff25b58995996707e51fbdf08b34d875"},
      {"0102030405060708", 0, "97ab8a1bf0afb96132f2f67258da15a8 8263efdb45c4a18684ef87e6b19e5b09"},
      {"0102030405060708090a0b0c0d0e0f10", 0,
       "9ac7cc9a609d1ef7b2932899cde41b97 5248c4959014126a6e8a84f11d1a9e1c"},
      {"0102030405060708090a0b0c0d0e0f10", 4096, "a36a4c301ae8ac13610ccbc12256cacc"},
      {"833222772a", 0, "80ad97bdc973df8a2e879e92a497efda 20f060c2f2e5126501d3d4fea10d5fc0"},
  };
  for (const auto& v : kVectors) {
    const Bytes expected = FromHex(v.stream);
    const Bytes zeros(v.offset + expected.size(), 0);
    const Bytes stream = Encrypt(FromHex(v.key), zeros, CALG_RC4, 0);
    EXPECT_EQ(ToHex(stream.data() + v.offset, expected.size()), ToHex(expected))
        << v.key << " @" << v.offset;
  }
}

TEST(SymmetricCalls, SizeQueryWithNullOutputReportsInputLength) {
  Bytes key = FromHex("0123456789ABCDEF");
  const Bytes input(7, 0x11);  // not a whole block: tested only when the work is done
  uint32_t outputLength = 0;
  DataBlob blob{8, key.data()};
  EXPECT_EQ(QM_SymmetricEncrypt(&blob, 0, 0, input.data(), 7, nullptr, &outputLength, CALG_DES,
                                CRYPT_MODE_ECB),
            ERR_OK);
  EXPECT_EQ(outputLength, 7u);
  EXPECT_EQ(ToHex(key), "0123456789abcdef");  // no key set-up on a size query
}

TEST(SymmetricCalls, SizeQueryWithShortOutputLeavesOutputAlone) {
  Bytes key = kTripleKey;
  const Bytes input(16, 0x11);
  Bytes output(16, kFill);
  uint32_t outputLength = 15;
  EXPECT_EQ(
      CallWith(&QM_SymmetryDecrypt, key, input, output, outputLength, CALG_3DES, CRYPT_MODE_CBC),
      ERR_OK);
  EXPECT_EQ(outputLength, 16u);
  EXPECT_EQ(output, Bytes(16, kFill));
}

TEST(SymmetricCalls, UnsupportedAlgorithmWithNullOutputIsFailure) {
  uint32_t outputLength = 99;
  const uint8_t input[8] = {};
  EXPECT_EQ(QM_SymmetricEncrypt(nullptr, 0, 0, input, 8, nullptr, &outputLength, CALG_SHA1,
                                CRYPT_MODE_ECB),
            ERR_FAILED);
  EXPECT_EQ(QM_SymmetryDecrypt(nullptr, 0, 0, input, 8, nullptr, &outputLength, 0x6602, 2),
            ERR_FAILED);
  EXPECT_EQ(outputLength, 99u);
}

TEST(SymmetricCalls, Rc4LeavesOutputLengthAsGivenWhileTripleDesSetsIt) {
  Bytes key = kTripleKey;
  const Bytes input(10, 0x42);
  Bytes output(64, kFill);
  uint32_t outputLength = 64;
  ASSERT_EQ(CallWith(&QM_SymmetricEncrypt, key, input, output, outputLength, CALG_RC4, 0), ERR_OK);
  EXPECT_EQ(outputLength, 64u);
  EXPECT_EQ(Bytes(output.begin() + 10, output.end()), Bytes(54, kFill));
  ASSERT_EQ(
      CallWith(&QM_SymmetricEncrypt, key, input, output, outputLength, CALG_3DES, CRYPT_MODE_OFB),
      ERR_OK);
  EXPECT_EQ(outputLength, 10u);
  EXPECT_EQ(Bytes(output.begin() + 10, output.end()), Bytes(54, kFill));
}

TEST(SymmetricCalls, Rc4OverZeroBytesWritesNothing) {
  Bytes key = FromText("Key");
  Bytes output(8, kFill);
  uint32_t outputLength = 8;
  DataBlob blob{3, key.data()};
  EXPECT_EQ(QM_SymmetricEncrypt(&blob, 0, 0, nullptr, 0, output.data(), &outputLength, CALG_RC4, 0),
            ERR_OK);
  EXPECT_EQ(output, Bytes(8, kFill));
  EXPECT_EQ(outputLength, 8u);
}

TEST(SymmetricCalls, EcbOverSevenBytesIsRefusedWithOutputHoldingTheInput) {
  Bytes key = FromHex("0123456789ABCDEF");
  const Bytes input = FromHex("01020304050607");
  for (uint32_t mode : {CRYPT_MODE_ECB, CRYPT_MODE_CBC}) {
    Bytes output(8, kFill);
    uint32_t outputLength = 8;
    EXPECT_EQ(CallWith(&QM_SymmetricEncrypt, key, input, output, outputLength, CALG_DES, mode),
              ERR_BLOCK_LENGTH);
    EXPECT_EQ(ToHex(output), "01020304050607a5");
    EXPECT_EQ(outputLength, 7u);
  }
}

TEST(SymmetricCalls, ZeroKeyIsRefusedWrittenBackAndOutputUntouched) {
  for (uint32_t algId : {CALG_DES, CALG_3DES}) {
    Bytes key(algId == CALG_DES ? 8 : 24, 0x00);
    const Bytes input(8, 0x11);
    Bytes output(8, kFill);
    uint32_t outputLength = 8;
    EXPECT_EQ(
        CallWith(&QM_SymmetricEncrypt, key, input, output, outputLength, algId, CRYPT_MODE_ECB),
        ERR_DES_KEY);
    EXPECT_EQ(ToHex(key.data(), 8), "0101010101010101");
    EXPECT_EQ(output, Bytes(8, kFill));
    EXPECT_EQ(outputLength, 8u);
  }
}

TEST(SymmetricCalls, NineByteDesKeyIsBlockLengthWithKeyAndOutputUntouched) {
  Bytes key(9, 0xFF);
  const Bytes input(8, 0x11);
  Bytes output(8, kFill);
  uint32_t outputLength = 8;
  EXPECT_EQ(
      CallWith(&QM_SymmetricEncrypt, key, input, output, outputLength, CALG_DES, CRYPT_MODE_CBC),
      ERR_BLOCK_LENGTH);
  EXPECT_EQ(key, Bytes(9, 0xFF));
  EXPECT_EQ(output, Bytes(8, kFill));
  EXPECT_EQ(outputLength, 8u);
}

TEST(SymmetricCalls, KeyBytesComeBackWithOddParity) {
  Bytes key = FromHex("FF03010203040506 0708090A0B0C0D0E 0F10111213141516");
  const Bytes input(8, 0x11);
  Bytes output(8, kFill);
  uint32_t outputLength = 8;
  ASSERT_EQ(
      CallWith(&QM_SymmetricEncrypt, key, input, output, outputLength, CALG_3DES, CRYPT_MODE_ECB),
      ERR_OK);
  EXPECT_EQ(ToHex(key), "fe020102020404070708080b0b0d0d0e0e10101313151516");
}

TEST(SymmetricCalls, TwoKeyTripleDesEqualsThreeKeyWithFirstPartRepeated) {
  const Bytes two(kTripleKey.begin(), kTripleKey.begin() + 16);
  Bytes three = two;
  three.insert(three.end(), kTripleKey.begin(), kTripleKey.begin() + 8);
  const Bytes plain = FromText("sixteen bytes!!!");
  for (uint32_t mode : {CRYPT_MODE_CBC, CRYPT_MODE_ECB, CRYPT_MODE_OFB, CRYPT_MODE_CFB})
    EXPECT_EQ(ToHex(Encrypt(two, plain, CALG_3DES, mode)),
              ToHex(Encrypt(three, plain, CALG_3DES, mode)));
}

TEST(SymmetricCalls, UnknownModeIsFailureWithNothingWritten) {
  for (uint32_t algId : {CALG_DES, CALG_3DES}) {
    for (uint32_t mode : {0u, 5u, 0xFFFFFFFFu}) {
      Bytes key(24, 0x00);
      const Bytes input(8, 0x11);
      Bytes output(8, kFill);
      uint32_t outputLength = 8;
      EXPECT_EQ(CallWith(&QM_SymmetricEncrypt, key, input, output, outputLength, algId, mode),
                ERR_FAILED);
      EXPECT_EQ(CallWith(&QM_SymmetryDecrypt, key, input, output, outputLength, algId, mode),
                ERR_FAILED);
      EXPECT_EQ(output, Bytes(8, kFill));
      EXPECT_EQ(outputLength, 8u);
      EXPECT_EQ(key, Bytes(24, 0x00));
    }
  }
}

TEST(SymmetricCalls, EmptyRc4KeyIsFailureWithNothingWritten) {
  uint8_t keyByte = 0x11;
  DataBlob blob{0, &keyByte};
  const Bytes input(8, 0x11);
  Bytes output(8, kFill);
  uint32_t outputLength = 8;
  EXPECT_EQ(
      QM_SymmetricEncrypt(&blob, 0, 0, input.data(), 8, output.data(), &outputLength, CALG_RC4, 0),
      ERR_FAILED);
  EXPECT_EQ(output, Bytes(8, kFill));
  EXPECT_EQ(outputLength, 8u);
}

TEST(SymmetricCalls, NullKeyOrKeyDataIsFailureWithNothingWritten) {
  const Bytes input(8, 0x11);
  Bytes output(8, kFill);
  uint32_t outputLength = 8;
  DataBlob noData{8, nullptr};
  for (uint32_t algId : {CALG_DES, CALG_3DES, CALG_RC4}) {
    for (DataBlob* key : {static_cast<DataBlob*>(nullptr), &noData}) {
      EXPECT_EQ(QM_SymmetricEncrypt(key, 0, 0, input.data(), 8, output.data(), &outputLength, algId,
                                    CRYPT_MODE_ECB),
                ERR_FAILED);
      EXPECT_EQ(QM_SymmetryDecrypt(key, 0, 0, input.data(), 8, output.data(), &outputLength, algId,
                                   CRYPT_MODE_ECB),
                ERR_FAILED);
    }
  }
  EXPECT_EQ(output, Bytes(8, kFill));
  EXPECT_EQ(outputLength, 8u);
}

TEST(SymmetricCalls, NullInputWithNonzeroLengthIsFailureWithNothingWritten) {
  Bytes key = kTripleKey;
  DataBlob blob{24, key.data()};
  Bytes output(8, kFill);
  uint32_t outputLength = 8;
  for (uint32_t algId : {CALG_DES, CALG_3DES, CALG_RC4}) {
    EXPECT_EQ(QM_SymmetricEncrypt(&blob, 0, 0, nullptr, 8, output.data(), &outputLength, algId,
                                  CRYPT_MODE_OFB),
              ERR_FAILED);
  }
  EXPECT_EQ(output, Bytes(8, kFill));
  EXPECT_EQ(outputLength, 8u);
  EXPECT_EQ(key, kTripleKey);
}

TEST(SymmetricCalls, NullOutputLengthIsFailure) {
  Bytes key = kTripleKey;
  DataBlob blob{24, key.data()};
  const Bytes input(8, 0x11);
  Bytes output(8, kFill);
  EXPECT_EQ(QM_SymmetricEncrypt(&blob, 0, 0, input.data(), 8, output.data(), nullptr, CALG_3DES,
                                CRYPT_MODE_ECB),
            ERR_FAILED);
  EXPECT_EQ(output, Bytes(8, kFill));
}

}  // namespace
}  // namespace marlinok::test
