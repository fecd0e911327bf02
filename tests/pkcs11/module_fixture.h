// The module under test, loaded with dlopen, on a fresh hive per test, and
// the helpers the tests share: sessions, login, key pairs, attribute reads,
// and OpenSSL keys for the module's numbers.
#ifndef MARLINOK_TESTS_PKCS11_MODULE_FIXTURE_H
#define MARLINOK_TESTS_PKCS11_MODULE_FIXTURE_H

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <p11-kit/pkcs11.h>

#include <memory>
#include <string>
#include <vector>

#include "support/temp_hive.h"

namespace marlinok::test {

using Bytes = std::vector<uint8_t>;

constexpr char kPin[] = "1234";

// The function list of the loaded module (loaded once per program).
CK_FUNCTION_LIST* Module();

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  CK_FUNCTION_LIST* p11() { return Module(); }

  CK_SESSION_HANDLE Open(bool readWrite = true);
  // Stores kPin through C_SetPIN (the hive has none yet) and logs in.
  CK_SESSION_HANDLE OpenWithLogin();

  // A pair through C_GenerateKeyPair: {private, public}.
  std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> GeneratePair(CK_SESSION_HANDLE session,
                                                             CK_ULONG bits,
                                                             const std::string& label,
                                                             const Bytes& id, bool decrypt = true);
  // An OpenSSL key stored through C_CreateObject: its private handle.
  CK_OBJECT_HANDLE ImportKey(CK_SESSION_HANDLE session, EVP_PKEY* key, const std::string& label,
                             const Bytes& id);

  // Handles matching a template.
  std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session,
                                     std::vector<CK_ATTRIBUTE> attributes);
  // One attribute's value (asserts success).
  Bytes Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
  // The public key of a key object as an OpenSSL key.
  EVP_PKEY* PublicKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);

  Bytes Sign(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key,
             const Bytes& data);

  std::unique_ptr<TempHive> hive_;
  std::vector<EVP_PKEY*> keys_;  // freed at the end of the test
};

// The standard's attribute helpers.
template <class T>
CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, T* value) {
  return CK_ATTRIBUTE{type, value, sizeof(T)};
}
inline CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const Bytes& value) {
  return CK_ATTRIBUTE{type, const_cast<uint8_t*>(value.data()), value.size()};
}
inline CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const std::string& value) {
  return CK_ATTRIBUTE{type, const_cast<char*>(value.data()), value.size()};
}

extern CK_BBOOL kTrue;
extern CK_BBOOL kFalse;
extern CK_OBJECT_CLASS kPrivateClass;
extern CK_OBJECT_CLASS kPublicClass;
extern CK_OBJECT_CLASS kCertificateClass;
extern CK_OBJECT_CLASS kDataClass;
extern CK_OBJECT_CLASS kSecretClass;

// An OpenSSL RSA key of `bits`, e = 65537, shared by the program.
EVP_PKEY* OpenSslKey(int bits);

Bytes FromText(const std::string& text);

}  // namespace marlinok::test

#endif
