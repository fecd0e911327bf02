// Digests, the session secret keys and their ciphers against OpenSSL (RC4
// against a published vector: OpenSSL keeps it in its legacy provider), and
// key wrapping with RSA.
#include <openssl/evp.h>

#include <cstring>

#include "pkcs11/module_fixture.h"

namespace marlinok::test {
namespace {

using SecretKeyTest = ModuleTest;

struct DigestCase {
  CK_MECHANISM_TYPE mechanism;
  const EVP_MD* (*md)();
};

const DigestCase kDigests[] = {{CKM_MD5, EVP_md5},       {CKM_SHA_1, EVP_sha1},
                               {CKM_SHA224, EVP_sha224}, {CKM_SHA256, EVP_sha256},
                               {CKM_SHA384, EVP_sha384}, {CKM_SHA512, EVP_sha512}};

TEST_F(SecretKeyTest, DigestsMatchOpenSslInOneAndManyParts) {
  const CK_SESSION_HANDLE session = Open(false);
  Bytes data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  for (const DigestCase& c : kDigests) {
    Bytes expected(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    EVP_Digest(data.data(), data.size(), expected.data(), &size, c.md(), nullptr);
    expected.resize(size);
    CK_MECHANISM mechanism{c.mechanism, nullptr, 0};
    ASSERT_EQ(p11()->C_DigestInit(session, &mechanism), CKR_OK);
    CK_ULONG length = 0;
    ASSERT_EQ(p11()->C_Digest(session, data.data(), data.size(), nullptr, &length), CKR_OK);
    ASSERT_EQ(length, size);
    Bytes digest(length);
    ASSERT_EQ(p11()->C_Digest(session, data.data(), data.size(), digest.data(), &length), CKR_OK);
    EXPECT_EQ(digest, expected) << std::hex << c.mechanism;
    ASSERT_EQ(p11()->C_DigestInit(session, &mechanism), CKR_OK);
    for (std::size_t at = 0; at < data.size(); at += 333)
      ASSERT_EQ(p11()->C_DigestUpdate(session, data.data() + at,
                                      std::min<std::size_t>(333, data.size() - at)),
                CKR_OK);
    ASSERT_EQ(p11()->C_DigestFinal(session, digest.data(), &length), CKR_OK);
    EXPECT_EQ(digest, expected) << std::hex << c.mechanism;
  }
  CK_MECHANISM bad{CKM_SHA256_RSA_PKCS, nullptr, 0};
  EXPECT_EQ(p11()->C_DigestInit(session, &bad), CKR_MECHANISM_INVALID);
}

CK_OBJECT_HANDLE CreateKey(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_KEY_TYPE type,
                           const Bytes& value) {
  CK_KEY_TYPE keyType = type;
  CK_ATTRIBUTE attributes[] = {Attr(CKA_CLASS, &kSecretClass), Attr(CKA_KEY_TYPE, &keyType),
                               Attr(CKA_VALUE, value), Attr(CKA_ENCRYPT, &kTrue),
                               Attr(CKA_DECRYPT, &kTrue)};
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  EXPECT_EQ(p11->C_CreateObject(session, attributes, 5, &key), CKR_OK);
  return key;
}

Bytes Crypt(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, bool encrypt, CK_MECHANISM mechanism,
            CK_OBJECT_HANDLE key, const Bytes& input, bool inParts) {
  auto init = encrypt ? p11->C_EncryptInit : p11->C_DecryptInit;
  auto once = encrypt ? p11->C_Encrypt : p11->C_Decrypt;
  auto update = encrypt ? p11->C_EncryptUpdate : p11->C_DecryptUpdate;
  auto final = encrypt ? p11->C_EncryptFinal : p11->C_DecryptFinal;
  EXPECT_EQ(init(session, &mechanism, key), CKR_OK);
  Bytes out(input.size() + 16);
  CK_ULONG length = out.size();
  if (!inParts) {
    EXPECT_EQ(once(session, const_cast<uint8_t*>(input.data()), input.size(), out.data(), &length),
              CKR_OK);
    out.resize(length);
    return out;
  }
  Bytes result;
  for (std::size_t at = 0; at < input.size(); at += 5) {
    length = out.size();
    const std::size_t part = std::min<std::size_t>(5, input.size() - at);
    EXPECT_EQ(update(session, const_cast<uint8_t*>(input.data()) + at, part, out.data(), &length),
              CKR_OK);
    result.insert(result.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length));
  }
  length = out.size();
  EXPECT_EQ(final(session, out.data(), &length), CKR_OK);
  result.insert(result.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length));
  return result;
}

struct DesCase {
  CK_MECHANISM_TYPE mechanism;
  const EVP_CIPHER* (*cipher)();
  bool padded;
};

TEST_F(SecretKeyTest, TripleDesModesMatchOpenSsl) {
  const CK_SESSION_HANDLE session = Open(false);
  Bytes value(24);
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(0x10 + 13 * i);
  for (std::size_t i = 0; i < value.size(); ++i)  // odd parity, as the token sets it
    value[i] =
        static_cast<uint8_t>((value[i] & 0xfe) | (__builtin_popcount(value[i] & 0xfe) % 2 == 0));
  const CK_OBJECT_HANDLE key = CreateKey(p11(), session, CKK_DES3, value);
  uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const DesCase cases[] = {{CKM_DES3_ECB, EVP_des_ede3_ecb, false},
                           {CKM_DES3_CBC, EVP_des_ede3_cbc, false},
                           {CKM_DES3_CBC_PAD, EVP_des_ede3_cbc, true}};
  for (const DesCase& c : cases) {
    for (std::size_t size : {16u, 21u, 24u}) {
      if (!c.padded && size % 8 != 0) continue;
      Bytes plain(size);
      for (std::size_t i = 0; i < size; ++i) plain[i] = static_cast<uint8_t>(i * 31);
      EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
      EVP_EncryptInit_ex(ctx, c.cipher(), nullptr, value.data(), iv);
      EVP_CIPHER_CTX_set_padding(ctx, c.padded ? 1 : 0);
      Bytes expected(size + 8);
      int n1 = 0, n2 = 0;
      EVP_EncryptUpdate(ctx, expected.data(), &n1, plain.data(), static_cast<int>(size));
      EVP_EncryptFinal_ex(ctx, expected.data() + n1, &n2);
      EVP_CIPHER_CTX_free(ctx);
      expected.resize(static_cast<std::size_t>(n1 + n2));
      CK_MECHANISM mechanism{c.mechanism, c.mechanism == CKM_DES3_ECB ? nullptr : iv,
                             c.mechanism == CKM_DES3_ECB ? 0ul : 8ul};
      for (bool parts : {false, true}) {
        EXPECT_EQ(Crypt(p11(), session, true, mechanism, key, plain, parts), expected)
            << std::hex << c.mechanism << " " << std::dec << size << " " << parts;
        EXPECT_EQ(Crypt(p11(), session, false, mechanism, key, expected, parts), plain)
            << std::hex << c.mechanism << " " << std::dec << size << " " << parts;
      }
    }
  }
  CK_MECHANISM noIv{CKM_DES3_CBC, nullptr, 0};
  EXPECT_EQ(p11()->C_EncryptInit(session, &noIv, key), CKR_MECHANISM_PARAM_INVALID);
  CK_MECHANISM ecb{CKM_DES3_ECB, nullptr, 0};
  ASSERT_EQ(p11()->C_EncryptInit(session, &ecb, key), CKR_OK);
  Bytes odd(7), out(16);
  CK_ULONG length = out.size();
  EXPECT_EQ(p11()->C_Encrypt(session, odd.data(), odd.size(), out.data(), &length),
            CKR_DATA_LEN_RANGE);
}

TEST_F(SecretKeyTest, Rc4MatchesThePublishedVector) {
  const CK_SESSION_HANDLE session = Open(false);
  const CK_OBJECT_HANDLE key = CreateKey(p11(), session, CKK_RC4, FromText("Key"));
  const Bytes expected{0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3};
  CK_MECHANISM mechanism{CKM_RC4, nullptr, 0};
  for (bool parts : {false, true}) {
    EXPECT_EQ(Crypt(p11(), session, true, mechanism, key, FromText("Plaintext"), parts), expected);
    EXPECT_EQ(Crypt(p11(), session, false, mechanism, key, expected, parts), FromText("Plaintext"));
  }
  // An RC4 key is no 3DES key.
  CK_MECHANISM des{CKM_DES3_ECB, nullptr, 0};
  EXPECT_EQ(p11()->C_EncryptInit(session, &des, key), CKR_KEY_TYPE_INCONSISTENT);
}

TEST_F(SecretKeyTest, GeneratedKeysAreSessionObjectsWithTheirAttributes) {
  const CK_SESSION_HANDLE session = Open(false);
  CK_MECHANISM des3{CKM_DES3_KEY_GEN, nullptr, 0};
  CK_ATTRIBUTE sensitive[] = {Attr(CKA_SENSITIVE, &kTrue)};
  CK_OBJECT_HANDLE first, second;
  ASSERT_EQ(p11()->C_GenerateKey(session, &des3, sensitive, 1, &first), CKR_OK);
  ASSERT_EQ(p11()->C_GenerateKey(session, &des3, nullptr, 0, &second), CKR_OK);
  CK_ATTRIBUTE value{CKA_VALUE, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, first, &value, 1), CKR_ATTRIBUTE_SENSITIVE);
  EXPECT_EQ(Attribute(session, second, CKA_VALUE).size(), 24u);
  EXPECT_EQ(Attribute(session, first, CKA_LOCAL), Bytes{CK_TRUE});
  CK_ULONG length = 0;
  CK_ATTRIBUTE valueLength = Attr(CKA_VALUE_LEN, &length);
  ASSERT_EQ(p11()->C_GetAttributeValue(session, first, &valueLength, 1), CKR_OK);
  EXPECT_EQ(length, 24u);
  CK_MECHANISM rc4{CKM_RC4_KEY_GEN, nullptr, 0};
  EXPECT_EQ(p11()->C_GenerateKey(session, &rc4, nullptr, 0, &first), CKR_TEMPLATE_INCOMPLETE);
  CK_ULONG sixteen = 16;
  CK_ATTRIBUTE rc4Length[] = {Attr(CKA_VALUE_LEN, &sixteen)};
  ASSERT_EQ(p11()->C_GenerateKey(session, &rc4, rc4Length, 1, &first), CKR_OK);
  EXPECT_EQ(Attribute(session, first, CKA_VALUE).size(), 16u);
  CK_ATTRIBUTE onToken[] = {Attr(CKA_VALUE_LEN, &sixteen), Attr(CKA_TOKEN, &kTrue)};
  EXPECT_EQ(p11()->C_GenerateKey(session, &rc4, onToken, 2, &first), CKR_TEMPLATE_INCONSISTENT);
  // Destroyed with a call, or with the session.
  EXPECT_EQ(p11()->C_DestroyObject(session, second), CKR_OK);
  EXPECT_EQ(p11()->C_GetAttributeValue(session, second, &value, 1), CKR_OBJECT_HANDLE_INVALID);
  ASSERT_EQ(p11()->C_CloseSession(session), CKR_OK);
  const CK_SESSION_HANDLE next = Open(false);
  EXPECT_EQ(p11()->C_GetAttributeValue(next, first, &value, 1), CKR_OBJECT_HANDLE_INVALID);
}

TEST_F(SecretKeyTest, ASecretKeyWrappedWithRsaUnwrapsToTheSameKey) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "wrapper", {});
  CK_MECHANISM des3{CKM_DES3_KEY_GEN, nullptr, 0};
  CK_OBJECT_HANDLE key;
  ASSERT_EQ(p11()->C_GenerateKey(session, &des3, nullptr, 0, &key), CKR_OK);
  CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
  CK_ULONG length = 0;
  ASSERT_EQ(p11()->C_WrapKey(session, &rsa, publicKey, key, nullptr, &length), CKR_OK);
  ASSERT_EQ(length, 128u);
  Bytes wrapped(length);
  ASSERT_EQ(p11()->C_WrapKey(session, &rsa, publicKey, key, wrapped.data(), &length), CKR_OK);
  CK_KEY_TYPE type = CKK_DES3;
  CK_ATTRIBUTE unwrapTemplate[] = {Attr(CKA_CLASS, &kSecretClass), Attr(CKA_KEY_TYPE, &type)};
  CK_OBJECT_HANDLE unwrapped;
  ASSERT_EQ(p11()->C_UnwrapKey(session, &rsa, privateKey, wrapped.data(), wrapped.size(),
                               unwrapTemplate, 2, &unwrapped),
            CKR_OK);
  EXPECT_EQ(Attribute(session, unwrapped, CKA_VALUE), Attribute(session, key, CKA_VALUE));
  wrapped[3] ^= 0x20;
  EXPECT_EQ(p11()->C_UnwrapKey(session, &rsa, privateKey, wrapped.data(), wrapped.size(),
                               unwrapTemplate, 2, &unwrapped),
            CKR_WRAPPED_KEY_INVALID);
  EXPECT_EQ(p11()->C_WrapKey(session, &rsa, privateKey, key, nullptr, &length),
            CKR_WRAPPING_KEY_TYPE_INCONSISTENT);
}

}  // namespace
}  // namespace marlinok::test
