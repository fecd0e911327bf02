// The RSA mechanisms against OpenSSL: signatures OpenSSL verifies,
// ciphertexts OpenSSL made that the module decrypts and the other way
// round, key generation, keys of the token core, and threads signing on
// sessions of their own.
#include <openssl/rsa.h>

#include <cstring>
#include <ostream>
#include <thread>

#include "pkcs11/module_fixture.h"
#include "platform/registry.h"
#include "store/registry_layout.h"
#include "token/key_operation.h"
#include "token/key_pairs.h"

namespace marlinok::test {
namespace {

using RsaTest = ModuleTest;

const EVP_MD* MdOf(CK_MECHANISM_TYPE hash) {
  switch (hash) {
    case CKM_MD5:
      return EVP_md5();
    case CKM_SHA_1:
      return EVP_sha1();
    case CKM_SHA256:
      return EVP_sha256();
    case CKM_SHA384:
      return EVP_sha384();
    case CKM_SHA512:
      return EVP_sha512();
    default:
      return nullptr;
  }
}

Bytes OpenSslDigest(CK_MECHANISM_TYPE hash, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned size = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &size, MdOf(hash), nullptr);
  out.resize(size);
  return out;
}

// Verifies with OpenSSL: the signature of `data` under `mechanism`.
// PSS salts as long as the hash, but for SHA-512 (which would not fit a
// 1024-bit key).
int SaltLength(CK_MECHANISM_TYPE hash) { return hash == CKM_SHA512 ? 32 : EVP_MD_size(MdOf(hash)); }

bool OpenSslVerifies(EVP_PKEY* key, CK_MECHANISM_TYPE mechanism, CK_MECHANISM_TYPE hash, bool pss,
                     bool hashed, const Bytes& data, const Bytes& signature) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  bool ok = false;
  if (mechanism == CKM_RSA_PKCS || mechanism == CKM_RSA_X_509) {
    EVP_PKEY_verify_recover_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx,
                                 mechanism == CKM_RSA_PKCS ? RSA_PKCS1_PADDING : RSA_NO_PADDING);
    Bytes recovered(signature.size());
    size_t length = recovered.size();
    if (EVP_PKEY_verify_recover(ctx, recovered.data(), &length, signature.data(),
                                signature.size()) == 1) {
      recovered.resize(length);
      Bytes expected = data;
      if (mechanism == CKM_RSA_X_509) expected.insert(expected.begin(), length - data.size(), 0);
      ok = recovered == expected;
    }
  } else {
    EVP_PKEY_verify_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, pss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(ctx, MdOf(hash));
    if (pss) {
      EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, SaltLength(hash));
      EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, MdOf(hash));
    }
    const Bytes digest = hashed ? data : OpenSslDigest(hash, data);
    ok =
        EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(), digest.size()) == 1;
  }
  EVP_PKEY_CTX_free(ctx);
  return ok;
}

struct SignCase {
  CK_MECHANISM_TYPE mechanism;
  CK_MECHANISM_TYPE hash;  // of PSS and the hash-and-sign mechanisms
  bool pss;
  bool hashed;  // the input is a hash already (CKM_RSA_PKCS_PSS)
};

// The cases' names in test listings: stable from run to run.
void PrintTo(const SignCase& c, std::ostream* os) {
  *os << "mechanism 0x" << std::hex << c.mechanism << " hash 0x" << c.hash;
}

const SignCase kSignCases[] = {
    {CKM_RSA_PKCS, 0, false, false},
    {CKM_RSA_X_509, 0, false, false},
    {CKM_MD5_RSA_PKCS, CKM_MD5, false, false},
    {CKM_SHA1_RSA_PKCS, CKM_SHA_1, false, false},
    {CKM_SHA256_RSA_PKCS, CKM_SHA256, false, false},
    {CKM_SHA384_RSA_PKCS, CKM_SHA384, false, false},
    {CKM_SHA512_RSA_PKCS, CKM_SHA512, false, false},
    {CKM_RSA_PKCS_PSS, CKM_SHA256, true, true},
    {CKM_SHA1_RSA_PKCS_PSS, CKM_SHA_1, true, false},
    {CKM_SHA256_RSA_PKCS_PSS, CKM_SHA256, true, false},
    {CKM_SHA384_RSA_PKCS_PSS, CKM_SHA384, true, false},
    {CKM_SHA512_RSA_PKCS_PSS, CKM_SHA512, true, false},
};

CK_RSA_PKCS_MGF_TYPE MgfOf(CK_MECHANISM_TYPE hash) {
  switch (hash) {
    case CKM_SHA_1:
      return CKG_MGF1_SHA1;
    case CKM_SHA256:
      return CKG_MGF1_SHA256;
    case CKM_SHA384:
      return CKG_MGF1_SHA384;
    default:
      return CKG_MGF1_SHA512;
  }
}

class SignTest : public ModuleTest, public ::testing::WithParamInterface<SignCase> {};

TEST_P(SignTest, OpenSslVerifiesAndTheModuleVerifies) {
  const SignCase& c = GetParam();
  const CK_SESSION_HANDLE session = OpenWithLogin();
  // 1032 bits: a modulus whose length is not a whole number of bytes plus one
  // exercises the PSS top-bit rule too.
  for (CK_ULONG bits : {1024ul, 1031ul}) {
    const auto [privateKey, publicKey] = GeneratePair(session, bits, "signer", {});
    EVP_PKEY* oracle = PublicKey(session, publicKey);
    CK_RSA_PKCS_PSS_PARAMS pss{c.hash, MgfOf(c.hash),
                               c.pss ? static_cast<CK_ULONG>(SaltLength(c.hash)) : 0};
    CK_MECHANISM mechanism{c.mechanism, c.pss ? &pss : nullptr, c.pss ? sizeof pss : 0};
    Bytes data = FromText("the message of the token's signature");
    if (c.hashed) data = OpenSslDigest(c.hash, data);
    if (c.mechanism == CKM_RSA_X_509) data[0] = 0;  // below n

    const Bytes signature = Sign(session, mechanism, privateKey, data);
    ASSERT_EQ(signature.size(), (bits + 7) / 8);
    EXPECT_TRUE(OpenSslVerifies(oracle, c.mechanism, c.hash, c.pss, c.hashed, data, signature))
        << std::hex << c.mechanism << " " << std::dec << bits;

    ASSERT_EQ(p11()->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
    EXPECT_EQ(p11()->C_Verify(session, data.data(), data.size(),
                              const_cast<uint8_t*>(signature.data()), signature.size()),
              CKR_OK);
    Bytes forged = signature;
    forged[forged.size() / 2] ^= 1;
    ASSERT_EQ(p11()->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
    EXPECT_EQ(p11()->C_Verify(session, data.data(), data.size(), forged.data(), forged.size()),
              CKR_SIGNATURE_INVALID);
    ASSERT_EQ(p11()->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
    EXPECT_EQ(p11()->C_Verify(session, data.data(), data.size(), forged.data(), forged.size() - 1),
              CKR_SIGNATURE_LEN_RANGE);

    if (c.hash != 0 && !c.hashed) {
      // In parts: the same verdicts.
      ASSERT_EQ(p11()->C_SignInit(session, &mechanism, privateKey), CKR_OK);
      ASSERT_EQ(p11()->C_SignUpdate(session, data.data(), 5), CKR_OK);
      ASSERT_EQ(p11()->C_SignUpdate(session, data.data() + 5, data.size() - 5), CKR_OK);
      Bytes parts(signature.size());
      CK_ULONG length = 1;
      EXPECT_EQ(p11()->C_SignFinal(session, parts.data(), &length), CKR_BUFFER_TOO_SMALL);
      EXPECT_EQ(length, parts.size());
      ASSERT_EQ(p11()->C_SignFinal(session, parts.data(), &length), CKR_OK);
      EXPECT_TRUE(OpenSslVerifies(oracle, c.mechanism, c.hash, c.pss, false, data, parts));
      if (!c.pss) {
        EXPECT_EQ(parts, signature);  // PKCS #1 v1.5 is deterministic
      }
      ASSERT_EQ(p11()->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
      ASSERT_EQ(p11()->C_VerifyUpdate(session, data.data(), 7), CKR_OK);
      ASSERT_EQ(p11()->C_VerifyUpdate(session, data.data() + 7, data.size() - 7), CKR_OK);
      EXPECT_EQ(p11()->C_VerifyFinal(session, parts.data(), parts.size()), CKR_OK);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, SignTest, ::testing::ValuesIn(kSignCases));

TEST_F(RsaTest, PssRefusesParametersThatDoNotFitTheMechanism) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "pss", {});
  CK_RSA_PKCS_PSS_PARAMS wrongHash{CKM_SHA_1, CKG_MGF1_SHA1, 20};
  CK_RSA_PKCS_PSS_PARAMS saltTooLong{CKM_SHA256, CKG_MGF1_SHA256, 200};
  CK_RSA_PKCS_PSS_PARAMS badMgf{CKM_SHA256, 77, 32};
  struct Case {
    CK_MECHANISM mechanism;
  } cases[] = {
      {{CKM_SHA256_RSA_PKCS_PSS, &wrongHash, sizeof wrongHash}},
      {{CKM_RSA_PKCS_PSS, &saltTooLong, sizeof saltTooLong}},
      {{CKM_RSA_PKCS_PSS, &badMgf, sizeof badMgf}},
      {{CKM_RSA_PKCS_PSS, nullptr, 0}},
      {{CKM_RSA_PKCS_PSS, &wrongHash, sizeof wrongHash - 1}},
  };
  for (Case& c : cases)
    EXPECT_EQ(p11()->C_SignInit(session, &c.mechanism, privateKey), CKR_MECHANISM_PARAM_INVALID);
  // CKM_RSA_PKCS_PSS signs a hash of the parameters' length only.
  CK_RSA_PKCS_PSS_PARAMS sha256{CKM_SHA256, CKG_MGF1_SHA256, 32};
  CK_MECHANISM mechanism{CKM_RSA_PKCS_PSS, &sha256, sizeof sha256};
  ASSERT_EQ(p11()->C_SignInit(session, &mechanism, privateKey), CKR_OK);
  Bytes data(31, 7), signature(128);
  CK_ULONG length = signature.size();
  EXPECT_EQ(p11()->C_Sign(session, data.data(), data.size(), signature.data(), &length),
            CKR_DATA_LEN_RANGE);
  // The failure ended the operation.
  EXPECT_EQ(p11()->C_Sign(session, data.data(), data.size(), signature.data(), &length),
            CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(RsaTest, PrivateKeyOperationsNeedLogin) {
  CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "guarded", {});
  ASSERT_EQ(p11()->C_Logout(session), CKR_OK);
  CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
  EXPECT_EQ(p11()->C_SignInit(session, &mechanism, privateKey), CKR_USER_NOT_LOGGED_IN);
  mechanism.mechanism = CKM_RSA_PKCS;
  EXPECT_EQ(p11()->C_DecryptInit(session, &mechanism, privateKey), CKR_USER_NOT_LOGGED_IN);
  // The public half still verifies and encrypts.
  EXPECT_EQ(p11()->C_EncryptInit(session, &mechanism, publicKey), CKR_OK);
  // And a public key cannot sign.
  mechanism.mechanism = CKM_SHA256_RSA_PKCS;
  EXPECT_EQ(p11()->C_SignInit(session, &mechanism, publicKey), CKR_KEY_FUNCTION_NOT_PERMITTED);
}

TEST_F(RsaTest, ASignaturePairRefusesToDecrypt) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "signonly", {}, false);
  EXPECT_EQ(Attribute(session, privateKey, CKA_DECRYPT), Bytes{CK_FALSE});
  EXPECT_EQ(Attribute(session, publicKey, CKA_ENCRYPT), Bytes{CK_FALSE});
  CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
  EXPECT_EQ(p11()->C_DecryptInit(session, &mechanism, privateKey), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(p11()->C_EncryptInit(session, &mechanism, publicKey), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(p11()->C_SignInit(session, &mechanism, privateKey), CKR_OK);
}

struct CipherCase {
  CK_MECHANISM_TYPE mechanism;
  CK_MECHANISM_TYPE hash;  // OAEP
  const char* label;       // OAEP
};

void PrintTo(const CipherCase& c, std::ostream* os) {
  *os << "mechanism 0x" << std::hex << c.mechanism << " hash 0x" << c.hash
      << (c.label != nullptr ? " with a label" : "");
}

const CipherCase kCipherCases[] = {
    {CKM_RSA_PKCS, 0, nullptr},
    {CKM_RSA_X_509, 0, nullptr},
    {CKM_RSA_PKCS_OAEP, CKM_SHA_1, nullptr},
    {CKM_RSA_PKCS_OAEP, CKM_SHA256, nullptr},
    {CKM_RSA_PKCS_OAEP, CKM_SHA256, "a label"},
    {CKM_RSA_PKCS_OAEP, CKM_SHA384, nullptr},
};

class CipherTest : public ModuleTest, public ::testing::WithParamInterface<CipherCase> {};

void SetPadding(EVP_PKEY_CTX* ctx, const CipherCase& c) {
  if (c.mechanism == CKM_RSA_PKCS) {
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  } else if (c.mechanism == CKM_RSA_X_509) {
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
  } else {
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING);
    EVP_PKEY_CTX_set_rsa_oaep_md(ctx, MdOf(c.hash));
    EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, MdOf(c.hash));
    if (c.label != nullptr) {
      const std::size_t length = std::strlen(c.label);
      auto* label = static_cast<unsigned char*>(OPENSSL_malloc(length));
      std::memcpy(label, c.label, length);
      EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, label, static_cast<int>(length));
    }
  }
}

TEST_P(CipherTest, TheModuleDecryptsOpenSslAndOpenSslDecryptsTheModule) {
  const CipherCase& c = GetParam();
  const CK_SESSION_HANDLE session = OpenWithLogin();
  EVP_PKEY* key = OpenSslKey(1024);
  const CK_OBJECT_HANDLE privateKey = ImportKey(session, key, "cipher", {1, 2, 3});
  const auto publics = Find(session, {Attr(CKA_CLASS, &kPublicClass)});
  ASSERT_EQ(publics.size(), 1u);
  CK_RSA_PKCS_OAEP_PARAMS oaep{c.hash, MgfOf(c.hash), CKZ_DATA_SPECIFIED,
                               const_cast<char*>(c.label),
                               c.label != nullptr ? std::strlen(c.label) : 0};
  const bool isOaep = c.mechanism == CKM_RSA_PKCS_OAEP;
  CK_MECHANISM mechanism{c.mechanism, isOaep ? &oaep : nullptr, isOaep ? sizeof oaep : 0};
  Bytes message = FromText("a session key, perhaps");
  if (c.mechanism == CKM_RSA_X_509) message.insert(message.begin(), 128 - message.size(), 0);

  // OpenSSL encrypts, the module decrypts.
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_encrypt_init(ctx);
  SetPadding(ctx, c);
  Bytes ciphertext(128);
  size_t length = ciphertext.size();
  ASSERT_EQ(EVP_PKEY_encrypt(ctx, ciphertext.data(), &length, message.data(), message.size()), 1);
  EVP_PKEY_CTX_free(ctx);
  ASSERT_EQ(p11()->C_DecryptInit(session, &mechanism, privateKey), CKR_OK);
  CK_ULONG plainLength = 0;
  ASSERT_EQ(p11()->C_Decrypt(session, ciphertext.data(), ciphertext.size(), nullptr, &plainLength),
            CKR_OK);
  Bytes plain(plainLength);
  ASSERT_EQ(
      p11()->C_Decrypt(session, ciphertext.data(), ciphertext.size(), plain.data(), &plainLength),
      CKR_OK);
  plain.resize(plainLength);
  EXPECT_EQ(plain, message);

  // The module encrypts, OpenSSL decrypts; two encryptions differ but raw RSA.
  Bytes first;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(p11()->C_EncryptInit(session, &mechanism, publics[0]), CKR_OK);
    Bytes out(128);
    CK_ULONG outLength = out.size();
    ASSERT_EQ(p11()->C_Encrypt(session, message.data(), message.size(), out.data(), &outLength),
              CKR_OK);
    ASSERT_EQ(outLength, 128u);
    if (round == 0) {
      first = out;
    } else {
      EXPECT_EQ(out == first, c.mechanism == CKM_RSA_X_509);
    }
    ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_decrypt_init(ctx);
    SetPadding(ctx, c);
    Bytes decrypted(128);
    length = decrypted.size();
    ASSERT_EQ(EVP_PKEY_decrypt(ctx, decrypted.data(), &length, out.data(), out.size()), 1);
    EVP_PKEY_CTX_free(ctx);
    decrypted.resize(length);
    EXPECT_EQ(decrypted, message);
  }

  if (c.mechanism != CKM_RSA_X_509) {
    // A damaged ciphertext is refused, not handed out.
    ciphertext[5] ^= 0x40;
    ASSERT_EQ(p11()->C_DecryptInit(session, &mechanism, privateKey), CKR_OK);
    Bytes out(128);
    CK_ULONG outLength = out.size();
    EXPECT_EQ(
        p11()->C_Decrypt(session, ciphertext.data(), ciphertext.size(), out.data(), &outLength),
        CKR_ENCRYPTED_DATA_INVALID);
  }
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, CipherTest, ::testing::ValuesIn(kCipherCases));

TEST_F(RsaTest, LengthRulesOfEncryptionAndDecryption) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "lengths", {});
  CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
  Bytes tooLong(128 - 10, 1), out(128);
  CK_ULONG length = out.size();
  ASSERT_EQ(p11()->C_EncryptInit(session, &mechanism, publicKey), CKR_OK);
  EXPECT_EQ(p11()->C_Encrypt(session, tooLong.data(), tooLong.size(), out.data(), &length),
            CKR_DATA_LEN_RANGE);
  ASSERT_EQ(p11()->C_DecryptInit(session, &mechanism, privateKey), CKR_OK);
  EXPECT_EQ(p11()->C_Decrypt(session, out.data(), 127, out.data(), &length),
            CKR_ENCRYPTED_DATA_LEN_RANGE);
  ASSERT_EQ(p11()->C_EncryptInit(session, &mechanism, publicKey), CKR_OK);
  EXPECT_EQ(p11()->C_EncryptUpdate(session, out.data(), 4, out.data(), &length),
            CKR_MECHANISM_INVALID);
  ASSERT_EQ(p11()->C_EncryptInit(session, &mechanism, publicKey), CKR_OK);
  EXPECT_EQ(p11()->C_EncryptInit(session, &mechanism, publicKey), CKR_OPERATION_ACTIVE);
}

TEST_F(RsaTest, KeyGenerationChecksItsTemplate) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_OBJECT_HANDLE publicKey, privateKey;
  struct Case {
    CK_ULONG bits;
    Bytes exponent;
    CK_RV expected;
  } const cases[] = {
      {507, {1, 0, 1}, CKR_KEY_SIZE_RANGE},
      {2049, {1, 0, 1}, CKR_KEY_SIZE_RANGE},
      {1024, {3}, CKR_ATTRIBUTE_VALUE_INVALID},
      {508, {0, 1, 0, 1}, CKR_OK},
  };
  for (const Case& c : cases) {
    CK_ULONG bits = c.bits;
    CK_ATTRIBUTE publicTemplate[] = {Attr(CKA_MODULUS_BITS, &bits),
                                     Attr(CKA_PUBLIC_EXPONENT, c.exponent)};
    EXPECT_EQ(p11()->C_GenerateKeyPair(session, &mechanism, publicTemplate, 2, nullptr, 0,
                                       &publicKey, &privateKey),
              c.expected)
        << c.bits;
  }
  EXPECT_EQ(Attribute(session, publicKey, CKA_MODULUS).size(), 64u);
  EXPECT_EQ(p11()->C_GenerateKeyPair(session, &mechanism, nullptr, 0, nullptr, 0, &publicKey,
                                     &privateKey),
            CKR_TEMPLATE_INCOMPLETE);
  const CK_SESSION_HANDLE readOnly = Open(false);
  CK_ULONG bits = 1024;
  CK_ATTRIBUTE publicTemplate[] = {Attr(CKA_MODULUS_BITS, &bits)};
  EXPECT_EQ(p11()->C_GenerateKeyPair(readOnly, &mechanism, publicTemplate, 1, nullptr, 0,
                                     &publicKey, &privateKey),
            CKR_SESSION_READ_ONLY);
  mechanism.mechanism = CKM_DES3_KEY_GEN;
  EXPECT_EQ(p11()->C_GenerateKeyPair(session, &mechanism, publicTemplate, 1, nullptr, 0, &publicKey,
                                     &privateKey),
            CKR_MECHANISM_INVALID);
}

TEST_F(RsaTest, GeneratedKeysDiffer) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto a = GeneratePair(session, 512, "a", {});
  const auto b = GeneratePair(session, 512, "b", {});
  EXPECT_NE(Attribute(session, a.second, CKA_MODULUS), Attribute(session, b.second, CKA_MODULUS));
  EXPECT_EQ(Attribute(session, a.second, CKA_PUBLIC_EXPONENT), (Bytes{1, 0, 1}));
}

TEST_F(RsaTest, AKeyOfTheTokenCoreSignsThroughTheModule) {
  DataBlob publicRef{0, nullptr}, privateRef{0, nullptr};
  ASSERT_EQ(token::GenerateKeyPair("made-elsewhere", &publicRef, &privateRef, 1024, 0,
                                   store::kSignaturePairBit),
            Status::Ok);
  std::vector<uint8_t> publicPath(publicRef.length), privatePath(privateRef.length);
  publicRef.data = publicPath.data();
  privateRef.data = privatePath.data();
  ASSERT_EQ(token::GenerateKeyPair("made-elsewhere", &publicRef, &privateRef, 1024, 0,
                                   store::kSignaturePairBit),
            Status::Ok);
  platform::ResetRegistryForTesting();

  const CK_SESSION_HANDLE session = OpenWithLogin();
  const std::string label = "made-elsewhere";
  const auto found = Find(session, {Attr(CKA_CLASS, &kPrivateClass), Attr(CKA_LABEL, label)});
  ASSERT_EQ(found.size(), 1u);
  const auto publics = Find(session, {Attr(CKA_CLASS, &kPublicClass)});
  ASSERT_EQ(publics.size(), 1u);
  // The default CKA_ID is the SHA-1 of the modulus, on both halves.
  const Bytes modulus = Attribute(session, publics[0], CKA_MODULUS);
  EXPECT_EQ(Attribute(session, found[0], CKA_ID), OpenSslDigest(CKM_SHA_1, modulus));
  EXPECT_EQ(Attribute(session, publics[0], CKA_ID), OpenSslDigest(CKM_SHA_1, modulus));
  EXPECT_EQ(Attribute(session, found[0], CKA_EXTRACTABLE), Bytes{CK_FALSE});
  EXPECT_EQ(Attribute(session, found[0], CKA_DECRYPT), Bytes{CK_FALSE});

  CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
  const Bytes data = FromText("signed through the module");
  const Bytes signature = Sign(session, mechanism, found[0], data);
  EXPECT_TRUE(OpenSslVerifies(PublicKey(session, publics[0]), CKM_SHA256_RSA_PKCS, CKM_SHA256,
                              false, false, data, signature));
}

TEST_F(RsaTest, AKeyOfTheModuleSignsThroughTheTokenCore) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "for-the-core", {});
  EVP_PKEY* oracle = PublicKey(session, publicKey);
  // The reference the 36-call interface hands out for this container's exchange pair.
  const std::string reference =
      store::ContainerPath("for-the-core") + "\\" + store::kExchangePair.privateRecord;
  platform::ResetRegistryForTesting();
  DataBlob blob{static_cast<uint32_t>(reference.size() + 1),
                reinterpret_cast<uint8_t*>(const_cast<char*>(reference.c_str()))};
  token::OperationKey key;
  ASSERT_EQ(token::LoadOperationKey(token::KeyUse::Sign, blob, &key), Status::Ok);
  // A PKCS #1 v1.5 block of a SHA-256 DigestInfo, through the raw private operation.
  const Bytes data = FromText("signed by the token core");
  const Bytes digest = OpenSslDigest(CKM_SHA256, data);
  const uint8_t prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                            0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  Bytes block(128, 0xff);
  block[0] = 0;
  block[1] = 1;
  block[128 - 51 - 1] = 0;
  std::memcpy(block.data() + 128 - 51, prefix, sizeof prefix);
  std::memcpy(block.data() + 128 - 32, digest.data(), 32);
  Bytes signature(128);
  uint32_t length = 0;
  ASSERT_EQ(token::RunKeyOperation(key, signature.data(), &length, block.data(), 128, [] {}),
            Status::Ok);
  EXPECT_TRUE(
      OpenSslVerifies(oracle, CKM_SHA256_RSA_PKCS, CKM_SHA256, false, false, data, signature));
}

TEST_F(RsaTest, AContainerWithBothPairsIsFourObjects) {
  for (uint32_t kind : {store::kSignaturePairBit, store::kExchangePairBit}) {
    std::vector<uint8_t> publicPath(512), privatePath(512);
    DataBlob publicRef{512, publicPath.data()}, privateRef{512, privatePath.data()};
    ASSERT_EQ(token::GenerateKeyPair("both", &publicRef, &privateRef, 512, 1, kind), Status::Ok);
  }
  platform::ResetRegistryForTesting();
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto privates = Find(session, {Attr(CKA_CLASS, &kPrivateClass)});
  ASSERT_EQ(privates.size(), 2u);
  EXPECT_EQ(Find(session, {Attr(CKA_CLASS, &kPublicClass)}).size(), 2u);
  EXPECT_EQ(Find(session, {Attr(CKA_CLASS, &kPrivateClass), Attr(CKA_DECRYPT, &kTrue)}).size(), 1u);
  for (CK_OBJECT_HANDLE key : privates) {
    EXPECT_EQ(Attribute(session, key, CKA_LABEL), FromText("both"));
    EXPECT_EQ(Attribute(session, key, CKA_EXTRACTABLE), Bytes{CK_TRUE});
    CK_MECHANISM mechanism{CKM_SHA1_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(Sign(session, mechanism, key, FromText("x")).size(), 64u);
  }
  EXPECT_NE(Attribute(session, privates[0], CKA_ID), Attribute(session, privates[1], CKA_ID));
}

TEST_F(RsaTest, AttributesOfAPairReplacedElsewhereAreNotTakenOver) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  GeneratePair(session, 512, "replaced", {0x42}, false);
  EXPECT_EQ(Find(session, {Attr(CKA_ID, Bytes{0x42})}).size(), 2u);
  // The 36-call interface writes a new signature pair into the same container.
  platform::ResetRegistryForTesting();
  std::vector<uint8_t> publicPath(512), privatePath(512);
  DataBlob publicRef{512, publicPath.data()}, privateRef{512, privatePath.data()};
  ASSERT_EQ(
      token::GenerateKeyPair("replaced", &publicRef, &privateRef, 512, 0, store::kSignaturePairBit),
      Status::Ok);
  EXPECT_TRUE(Find(session, {Attr(CKA_ID, Bytes{0x42})}).empty());
  const auto publics = Find(session, {Attr(CKA_CLASS, &kPublicClass)});
  ASSERT_EQ(publics.size(), 1u);
  EXPECT_EQ(Attribute(session, publics[0], CKA_ID),
            OpenSslDigest(CKM_SHA_1, Attribute(session, publics[0], CKA_MODULUS)));
}

TEST_F(RsaTest, SeveralThreadsSignOnSessionsOfTheirOwn) {
  const CK_SESSION_HANDLE setup = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(setup, 1024, "shared", {});
  EVP_PKEY* oracle = PublicKey(setup, publicKey);
  constexpr int kThreads = 4, kRounds = 10;
  std::vector<std::vector<Bytes>> signatures(kThreads);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t, key = privateKey] {
      CK_SESSION_HANDLE session;
      if (p11()->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) {
        ++failures;
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
        Bytes data = FromText("thread " + std::to_string(t) + " round " + std::to_string(round));
        Bytes signature(128);
        CK_ULONG length = signature.size();
        if (p11()->C_SignInit(session, &mechanism, key) != CKR_OK ||
            p11()->C_Sign(session, data.data(), data.size(), signature.data(), &length) != CKR_OK) {
          ++failures;
          continue;
        }
        signatures[t].push_back(signature);
      }
      p11()->C_CloseSession(session);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(signatures[t].size(), static_cast<std::size_t>(kRounds));
    for (int round = 0; round < kRounds; ++round) {
      const Bytes data =
          FromText("thread " + std::to_string(t) + " round " + std::to_string(round));
      EXPECT_TRUE(OpenSslVerifies(oracle, CKM_SHA256_RSA_PKCS, CKM_SHA256, false, false, data,
                                  signatures[t][round]));
    }
  }
}

}  // namespace
}  // namespace marlinok::test
