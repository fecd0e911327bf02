// The four modes over both engines: known answers of the DES standard and its
// modes-of-operation examples, length refusals that leave everything alone,
// short CFB/OFB tails and the final chaining block.
#include "symmetric/block_modes.h"

#include <gtest/gtest.h>

#include "support/hex.h"
#include "symmetric/block_engine.h"
#include "symmetric/des_key_setup.h"

namespace marlinok::symmetric {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

DesKeySchedule DesSchedule(const std::string& keyHex) {
  Bytes key = FromHex(keyHex);
  DesKeySchedule schedule;
  EXPECT_EQ(DesKeySetup(key.data(), key.size(), schedule), Status::Ok);
  return schedule;
}

TripleDesKeySchedule TripleSchedule(const std::string& keyHex) {
  Bytes key = FromHex(keyHex);
  TripleDesKeySchedule schedule;
  EXPECT_EQ(TripleDesKeySetup(key.data(), key.size(), schedule), Status::Ok);
  return schedule;
}

struct EcbVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Single-block answers from the DES standard's validation sets (variable key
// and the classic worked examples).
TEST(EcbKnownAnswer, DesVectors) {
  const EcbVector kVectors[] = {
      {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
      {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
      {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
      {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
      {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
  };
  for (const auto& v : kVectors) {
    const DesKeySchedule schedule = DesSchedule(v.key);
    Bytes data = FromHex(v.plain);
    ASSERT_EQ(EcbEncrypt(DesEngine(schedule), data.data(), data.size()), Status::Ok);
    EXPECT_EQ(ToHex(data), ToHex(FromHex(v.cipher))) << v.key;
    ASSERT_EQ(EcbDecrypt(DesEngine(schedule), data.data(), data.size()), Status::Ok);
    EXPECT_EQ(ToHex(data), ToHex(FromHex(v.plain))) << v.key;
  }
}

// The three-key example of the 3DES standard.
TEST(EcbKnownAnswer, TripleDesThreeKeyExample) {
  const TripleDesKeySchedule schedule =
      TripleSchedule("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
  const Bytes plain = FromHex("5468652071756663 6B2062726F776E20 666F78206A756D70");
  Bytes data = plain;
  ASSERT_EQ(EcbEncrypt(TripleDesEngine(schedule), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(FromHex("A826FD8CE53B855F CCE21C8112256FE6 68D5C05DD9B6B900")));
  ASSERT_EQ(EcbDecrypt(TripleDesEngine(schedule), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(plain));
}

// The DES modes-of-operation examples: key 0123456789ABCDEF, IV
// 1234567890ABCDEF, "Now is the time for all ".
class ModesExample : public ::testing::Test {
 protected:
  const DesKeySchedule schedule_ = DesSchedule("0123456789ABCDEF");
  const Bytes plain_ = FromHex("4E6F772069732074 68652074696D6520 666F7220616C6C20");
  Bytes iv_ = FromHex("1234567890ABCDEF");
};

TEST_F(ModesExample, Cbc) {
  Bytes data = plain_;
  Bytes chain = iv_;
  ASSERT_EQ(CbcEncrypt(DesEngine(schedule_), chain.data(), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(FromHex("E5C7CDDE872BF27C 43E934008C389C0F 683788499A7C05F6")));
  EXPECT_EQ(ToHex(chain), ToHex(FromHex("683788499A7C05F6")));
  chain = iv_;
  ASSERT_EQ(CbcDecrypt(DesEngine(schedule_), chain.data(), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(plain_));
  EXPECT_EQ(ToHex(chain), ToHex(FromHex("683788499A7C05F6")));
}

TEST_F(ModesExample, Cfb64) {
  Bytes data = plain_;
  Bytes chain = iv_;
  ASSERT_EQ(Cfb64Encrypt(DesEngine(schedule_), chain.data(), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(FromHex("F3096249C7F46E51 A69E839B1A92F784 03467133898EA622")));
  EXPECT_EQ(ToHex(chain), ToHex(FromHex("03467133898EA622")));
  chain = iv_;
  ASSERT_EQ(Cfb64Decrypt(DesEngine(schedule_), chain.data(), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(plain_));
}

TEST_F(ModesExample, Ofb64) {
  Bytes data = plain_;
  Bytes chain = iv_;
  ASSERT_EQ(Ofb64Crypt(DesEngine(schedule_), chain.data(), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(FromHex("F3096249C7F46E51 35F24A242EEB3D3F 3D6D5BE3255AF8C3")));
  chain = iv_;
  ASSERT_EQ(Ofb64Crypt(DesEngine(schedule_), chain.data(), data.data(), data.size()), Status::Ok);
  EXPECT_EQ(ToHex(data), ToHex(plain_));
}

TEST_F(ModesExample, ThirteenByteTailUsesFirstBytesOfSecondKeyStreamBlock) {
  const Bytes plain(plain_.begin(), plain_.begin() + 13);
  // Key-stream blocks: E(IV), then E(E(IV)) for OFB, E(first ciphertext) for CFB.
  Bytes stream1 = iv_;
  DesEngine(schedule_).Encrypt(stream1.data());
  Bytes ofbStream2 = stream1;
  DesEngine(schedule_).Encrypt(ofbStream2.data());

  Bytes ofb = plain;
  Bytes chain = iv_;
  ASSERT_EQ(Ofb64Crypt(DesEngine(schedule_), chain.data(), ofb.data(), ofb.size()), Status::Ok);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(ofb[i], plain[i] ^ stream1[i]);
  for (std::size_t i = 8; i < 13; ++i) EXPECT_EQ(ofb[i], plain[i] ^ ofbStream2[i - 8]);
  EXPECT_EQ(ToHex(chain), ToHex(ofbStream2));

  Bytes cfb = plain;
  chain = iv_;
  ASSERT_EQ(Cfb64Encrypt(DesEngine(schedule_), chain.data(), cfb.data(), cfb.size()), Status::Ok);
  Bytes cfbStream2(cfb.begin(), cfb.begin() + 8);
  DesEngine(schedule_).Encrypt(cfbStream2.data());
  for (std::size_t i = 8; i < 13; ++i) EXPECT_EQ(cfb[i], plain[i] ^ cfbStream2[i - 8]);
  // The register's first 5 bytes are the tail's ciphertext; the rest is key stream.
  Bytes expectedChain(cfb.begin() + 8, cfb.end());
  expectedChain.insert(expectedChain.end(), cfbStream2.begin() + 5, cfbStream2.end());
  EXPECT_EQ(ToHex(chain), ToHex(expectedChain));
  chain = iv_;
  ASSERT_EQ(Cfb64Decrypt(DesEngine(schedule_), chain.data(), cfb.data(), cfb.size()), Status::Ok);
  EXPECT_EQ(ToHex(cfb), ToHex(plain));
}

TEST(BlockModes, SevenBytesInEcbOrCbcIsRefusedWithDataAndChainUnchanged) {
  const TripleDesKeySchedule schedule = TripleSchedule("0123456789ABCDEF 23456789ABCDEF01");
  const TripleDesEngine engine(schedule);
  const Bytes original = FromHex("01020304050607");
  const Bytes iv = FromHex("A5A5A5A5A5A5A5A5");
  Bytes data = original;
  Bytes chain = iv;
  EXPECT_EQ(EcbEncrypt(engine, data.data(), data.size()), Status::BlockLength);
  EXPECT_EQ(EcbDecrypt(engine, data.data(), data.size()), Status::BlockLength);
  EXPECT_EQ(CbcEncrypt(engine, chain.data(), data.data(), data.size()), Status::BlockLength);
  EXPECT_EQ(CbcDecrypt(engine, chain.data(), data.data(), data.size()), Status::BlockLength);
  EXPECT_EQ(ToHex(data), ToHex(original));
  EXPECT_EQ(ToHex(chain), ToHex(iv));
}

TEST(BlockModes, ZeroLengthSucceedsAndChangesNothing) {
  const DesKeySchedule schedule = DesSchedule("0123456789ABCDEF");
  const DesEngine engine(schedule);
  uint8_t sentinel = 0xA5;
  Bytes chain = FromHex("1234567890ABCDEF");
  const Bytes iv = chain;
  EXPECT_EQ(EcbEncrypt(engine, &sentinel, 0), Status::Ok);
  EXPECT_EQ(EcbDecrypt(engine, &sentinel, 0), Status::Ok);
  EXPECT_EQ(CbcEncrypt(engine, chain.data(), &sentinel, 0), Status::Ok);
  EXPECT_EQ(CbcDecrypt(engine, chain.data(), &sentinel, 0), Status::Ok);
  EXPECT_EQ(Cfb64Encrypt(engine, chain.data(), &sentinel, 0), Status::Ok);
  EXPECT_EQ(Cfb64Decrypt(engine, chain.data(), &sentinel, 0), Status::Ok);
  EXPECT_EQ(Ofb64Crypt(engine, chain.data(), &sentinel, 0), Status::Ok);
  EXPECT_EQ(sentinel, 0xA5);
  EXPECT_EQ(ToHex(chain), ToHex(iv));
}

}  // namespace
}  // namespace marlinok::symmetric
