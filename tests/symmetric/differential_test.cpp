// The engine against OpenSSL's EVP ciphers with a zero initialisation vector:
// random keys (weak keys excluded), every length from 0 to 200, in place and
// with separate buffers, both directions.
#include <gtest/gtest.h>

#include <ostream>
#include <random>

#include "marlinok.h"
#include "support/hex.h"
#include "support/evp_oracle.h"

namespace marlinok::test {
namespace {

struct Case {
  const char* evpName;
  uint32_t algId;
  uint32_t mode;
  std::size_t keyBytes;
  bool wholeBlocks;
};

const Case kCases[] = {
    {"DES-ECB", CALG_DES, CRYPT_MODE_ECB, 8, true},
    {"DES-CBC", CALG_DES, CRYPT_MODE_CBC, 8, true},
    {"DES-CFB", CALG_DES, CRYPT_MODE_CFB, 8, false},
    {"DES-OFB", CALG_DES, CRYPT_MODE_OFB, 8, false},
    {"DES-EDE3-ECB", CALG_3DES, CRYPT_MODE_ECB, 24, true},
    {"DES-EDE3-CBC", CALG_3DES, CRYPT_MODE_CBC, 24, true},
    {"DES-EDE3-CFB", CALG_3DES, CRYPT_MODE_CFB, 24, false},
    {"DES-EDE3-OFB", CALG_3DES, CRYPT_MODE_OFB, 24, false},
    {"DES-EDE-ECB", CALG_3DES, CRYPT_MODE_ECB, 16, true},
    {"DES-EDE-CBC", CALG_3DES, CRYPT_MODE_CBC, 16, true},
    {"DES-EDE-CFB", CALG_3DES, CRYPT_MODE_CFB, 16, false},
    {"DES-EDE-OFB", CALG_3DES, CRYPT_MODE_OFB, 16, false},
    {"RC4", CALG_RC4, 0, 0, false},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.evpName; }

class Differential : public ::testing::TestWithParam<Case> {
 protected:
  Bytes RandomBytes(std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng_());
    return out;
  }

  // A random key the engine accepts; the engine's parity fix-up does not
  // matter to the reference, which ignores the parity bits.
  Bytes RandomKey() {
    const std::size_t n =
        GetParam().keyBytes != 0 ? GetParam().keyBytes : 1 + rng_() % 32;  // RC4: 1..32
    for (;;) {
      Bytes key = RandomBytes(n);
      Bytes probe = key;
      if (RunCall(&QM_SymmetricEncrypt, probe, Bytes(8), /*inPlace=*/false).status != ERR_DES_KEY)
        return key;
    }
  }

  struct Outcome {
    int32_t status;
    Bytes data;
  };

  Outcome RunCall(decltype(&QM_SymmetricEncrypt) call, Bytes& key, const Bytes& input,
                  bool inPlace) {
    DataBlob blob{static_cast<uint32_t>(key.size()), key.data()};
    const auto length = static_cast<uint32_t>(input.size());
    Bytes buffer = input;
    Bytes separate(input.size() + 1, 0xA5);  // never empty: data() is not null
    uint8_t* output = inPlace ? buffer.data() : separate.data();
    uint32_t outputLength = length;
    Outcome outcome{call(&blob, 0, 0, inPlace ? buffer.data() : input.data(), length, output,
                         &outputLength, GetParam().algId, GetParam().mode),
                    Bytes(output, output + length)};
    if (outcome.status == ERR_OK) {
      EXPECT_EQ(outputLength, length);
    }
    if (!inPlace) {
      EXPECT_EQ(separate.back(), 0xA5);  // nothing past the message
    }
    return outcome;
  }

  std::mt19937 rng_{20240611u};
};

TEST_P(Differential, MatchesEvpForEveryLength) {
  const Case& c = GetParam();
  for (std::size_t length = 0; length <= 200; ++length) {
    const Bytes key = RandomKey();
    const Bytes plain = RandomBytes(length);
    for (bool inPlace : {false, true}) {
      Bytes workKey = key;
      const Outcome encrypted = RunCall(&QM_SymmetricEncrypt, workKey, plain, inPlace);
      const Outcome decrypted = RunCall(&QM_SymmetryDecrypt, workKey, plain, inPlace);
      if (c.wholeBlocks && length % 8 != 0) {
        EXPECT_EQ(encrypted.status, ERR_BLOCK_LENGTH);
        EXPECT_EQ(decrypted.status, ERR_BLOCK_LENGTH);
        EXPECT_EQ(ToHex(encrypted.data), ToHex(plain));
        continue;
      }
      ASSERT_EQ(encrypted.status, ERR_OK) << length;
      ASSERT_EQ(decrypted.status, ERR_OK) << length;
      EXPECT_EQ(ToHex(encrypted.data), ToHex(EvpCrypt(c.evpName, key, plain, true)))
          << c.evpName << " length " << length << (inPlace ? " in place" : "");
      EXPECT_EQ(ToHex(decrypted.data), ToHex(EvpCrypt(c.evpName, key, plain, false)))
          << c.evpName << " length " << length << (inPlace ? " in place" : "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllCiphers, Differential, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           std::string name = param.param.evpName;
                           for (auto& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace marlinok::test
