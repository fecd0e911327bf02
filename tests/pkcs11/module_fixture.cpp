#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_set0_key builds a key from the module's numbers
#include "pkcs11/module_fixture.h"

#include <dlfcn.h>
#include <openssl/bn.h>
#include <openssl/rsa.h>

#include <cstring>
#include <map>
#include <mutex>

namespace marlinok::test {

CK_BBOOL kTrue = CK_TRUE;
CK_BBOOL kFalse = CK_FALSE;
CK_OBJECT_CLASS kPrivateClass = CKO_PRIVATE_KEY;
CK_OBJECT_CLASS kPublicClass = CKO_PUBLIC_KEY;
CK_OBJECT_CLASS kCertificateClass = CKO_CERTIFICATE;
CK_OBJECT_CLASS kDataClass = CKO_DATA;
CK_OBJECT_CLASS kSecretClass = CKO_SECRET_KEY;

CK_FUNCTION_LIST* Module() {
  static CK_FUNCTION_LIST* list = [] {
    void* library = dlopen(MARLINOK_PKCS11_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) std::abort();
    auto get =
        reinterpret_cast<CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR)>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST* functions = nullptr;
    if (get == nullptr || get(&functions) != CKR_OK) std::abort();
    return functions;
  }();
  return list;
}

EVP_PKEY* OpenSslKey(int bits) {
  // Kept for the whole program, never freed.
  static auto* keys = new std::map<int, EVP_PKEY*>();
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  EVP_PKEY*& key = (*keys)[bits];
  if (key == nullptr) key = EVP_RSA_gen(static_cast<unsigned>(bits));
  return key;
}

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

void ModuleTest::SetUp() {
  hive_ = std::make_unique<TempHive>();
  ASSERT_EQ(p11()->C_Initialize(nullptr), CKR_OK);
}

void ModuleTest::TearDown() {
  p11()->C_Finalize(nullptr);
  for (EVP_PKEY* key : keys_) EVP_PKEY_free(key);
  hive_.reset();
}

CK_SESSION_HANDLE ModuleTest::Open(bool readWrite) {
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  const CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
  EXPECT_EQ(p11()->C_OpenSession(0, flags, nullptr, nullptr, &session), CKR_OK);
  return session;
}

CK_SESSION_HANDLE ModuleTest::OpenWithLogin() {
  const CK_SESSION_HANDLE session = Open(true);
  auto* pin = reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kPin));
  EXPECT_EQ(p11()->C_SetPIN(session, nullptr, 0, pin, std::strlen(kPin)), CKR_OK);
  EXPECT_EQ(p11()->C_Login(session, CKU_USER, pin, std::strlen(kPin)), CKR_OK);
  return session;
}

std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> ModuleTest::GeneratePair(CK_SESSION_HANDLE session,
                                                                       CK_ULONG bits,
                                                                       const std::string& label,
                                                                       const Bytes& id,
                                                                       bool decrypt) {
  CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  Bytes exponent{0x01, 0x00, 0x01};
  CK_BBOOL canDecrypt = decrypt ? CK_TRUE : CK_FALSE;
  std::vector<CK_ATTRIBUTE> publicTemplate = {
      Attr(CKA_TOKEN, &kTrue), Attr(CKA_MODULUS_BITS, &bits), Attr(CKA_PUBLIC_EXPONENT, exponent),
      Attr(CKA_VERIFY, &kTrue)};
  std::vector<CK_ATTRIBUTE> privateTemplate = {Attr(CKA_TOKEN, &kTrue), Attr(CKA_SIGN, &kTrue),
                                               Attr(CKA_DECRYPT, &canDecrypt),
                                               Attr(CKA_LABEL, label)};
  if (!id.empty()) privateTemplate.push_back(Attr(CKA_ID, id));
  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
  EXPECT_EQ(p11()->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(),
                                     publicTemplate.size(), privateTemplate.data(),
                                     privateTemplate.size(), &publicKey, &privateKey),
            CKR_OK);
  return {privateKey, publicKey};
}

namespace {

Bytes BigNumber(const EVP_PKEY* key, const char* name) {
  BIGNUM* number = nullptr;
  EVP_PKEY_get_bn_param(key, name, &number);
  Bytes out(static_cast<std::size_t>(BN_num_bytes(number)));
  BN_bn2bin(number, out.data());
  BN_free(number);
  return out;
}

}  // namespace

CK_OBJECT_HANDLE ModuleTest::ImportKey(CK_SESSION_HANDLE session, EVP_PKEY* key,
                                       const std::string& label, const Bytes& id) {
  CK_KEY_TYPE rsa = CKK_RSA;
  const Bytes n = BigNumber(key, "n"), e = BigNumber(key, "e"), d = BigNumber(key, "d"),
              p = BigNumber(key, "rsa-factor1"), q = BigNumber(key, "rsa-factor2"),
              dp = BigNumber(key, "rsa-exponent1"), dq = BigNumber(key, "rsa-exponent2"),
              qinv = BigNumber(key, "rsa-coefficient1");
  std::vector<CK_ATTRIBUTE> attributes = {Attr(CKA_CLASS, &kPrivateClass),
                                          Attr(CKA_KEY_TYPE, &rsa),
                                          Attr(CKA_TOKEN, &kTrue),
                                          Attr(CKA_PRIVATE, &kTrue),
                                          Attr(CKA_LABEL, label),
                                          Attr(CKA_ID, id),
                                          Attr(CKA_SIGN, &kTrue),
                                          Attr(CKA_DECRYPT, &kTrue),
                                          Attr(CKA_MODULUS, n),
                                          Attr(CKA_PUBLIC_EXPONENT, e),
                                          Attr(CKA_PRIVATE_EXPONENT, d),
                                          Attr(CKA_PRIME_1, p),
                                          Attr(CKA_PRIME_2, q),
                                          Attr(CKA_EXPONENT_1, dp),
                                          Attr(CKA_EXPONENT_2, dq),
                                          Attr(CKA_COEFFICIENT, qinv)};
  CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
  EXPECT_EQ(p11()->C_CreateObject(session, attributes.data(), attributes.size(), &object), CKR_OK);
  return object;
}

std::vector<CK_OBJECT_HANDLE> ModuleTest::Find(CK_SESSION_HANDLE session,
                                               std::vector<CK_ATTRIBUTE> attributes) {
  std::vector<CK_OBJECT_HANDLE> found;
  EXPECT_EQ(p11()->C_FindObjectsInit(session, attributes.data(), attributes.size()), CKR_OK);
  CK_OBJECT_HANDLE batch[3];
  CK_ULONG count = 0;
  do {
    EXPECT_EQ(p11()->C_FindObjects(session, batch, 3, &count), CKR_OK);
    found.insert(found.end(), batch, batch + count);
  } while (count == 3);
  EXPECT_EQ(p11()->C_FindObjectsFinal(session), CKR_OK);
  return found;
}

Bytes ModuleTest::Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                            CK_ATTRIBUTE_TYPE type) {
  CK_ATTRIBUTE attribute{type, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
  Bytes value(attribute.ulValueLen);
  attribute.pValue = value.data();
  EXPECT_EQ(p11()->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
  return value;
}

EVP_PKEY* ModuleTest::PublicKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
  const Bytes n = Attribute(session, object, CKA_MODULUS);
  const Bytes e = Attribute(session, object, CKA_PUBLIC_EXPONENT);
  RSA* rsa = RSA_new();
  RSA_set0_key(rsa, BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr),
               BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr), nullptr);
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(key, rsa);
  keys_.push_back(key);
  return key;
}

Bytes ModuleTest::Sign(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key,
                       const Bytes& data) {
  EXPECT_EQ(p11()->C_SignInit(session, &mechanism, key), CKR_OK);
  CK_ULONG length = 0;
  EXPECT_EQ(
      p11()->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), nullptr, &length),
      CKR_OK);
  Bytes signature(length);
  EXPECT_EQ(p11()->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(),
                          &length),
            CKR_OK);
  signature.resize(length);
  return signature;
}

}  // namespace marlinok::test
