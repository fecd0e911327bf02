// Objects: searches, the attribute rules of C_GetAttributeValue, private
// objects hidden until login, stable handles, another process deleting a
// pair, C_DestroyObject, C_SetAttributeValue, certificates and data objects,
// and where the module keeps what the container layout has no place for.
#include <openssl/x509.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "pkcs11/module_fixture.h"
#include "platform/registry.h"
#include "store/registry_layout.h"
#include "store/store_enumeration.h"

namespace marlinok::test {
namespace {

using ObjectTest = ModuleTest;

std::string Subkeys(const char* root) {
  platform::ResetRegistryForTesting();
  uint32_t length = 0;
  if (store::EnumerateSubkeys(root, nullptr, &length) != Status::Ok) return "<none>";
  std::string names(length + 1, '\0');
  if (store::EnumerateSubkeys(root, &names[0], &length) != Status::Ok) return "<none>";
  return names.c_str();
}

TEST_F(ObjectTest, AGeneratedPairIsTwoKeyObjectsSharingTheirId) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const Bytes id{0xa1, 0xb2};
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "my key", id);
  EXPECT_NE(privateKey, publicKey);
  const auto byId = Find(session, {Attr(CKA_ID, id)});
  EXPECT_EQ(byId.size(), 2u);
  const std::string label = "my key";
  EXPECT_EQ(Find(session, {Attr(CKA_LABEL, label), Attr(CKA_CLASS, &kPrivateClass)}),
            std::vector<CK_OBJECT_HANDLE>{privateKey});
  EXPECT_EQ(Find(session, {Attr(CKA_LABEL, label), Attr(CKA_CLASS, &kPublicClass)}),
            std::vector<CK_OBJECT_HANDLE>{publicKey});
  // Handles are stable across searches.
  EXPECT_EQ(Find(session, {Attr(CKA_CLASS, &kPrivateClass)}),
            std::vector<CK_OBJECT_HANDLE>{privateKey});
  CK_KEY_TYPE rsa = CKK_RSA;
  EXPECT_EQ(Find(session, {Attr(CKA_KEY_TYPE, &rsa), Attr(CKA_TOKEN, &kTrue)}).size(), 2u);
  EXPECT_TRUE(Find(session, {Attr(CKA_TOKEN, &kFalse)}).empty());

  struct Expected {
    CK_OBJECT_HANDLE object;
    CK_ATTRIBUTE_TYPE type;
    Bytes value;
  } const expected[] = {
      {privateKey, CKA_SENSITIVE, {CK_TRUE}},  {privateKey, CKA_EXTRACTABLE, {CK_FALSE}},
      {privateKey, CKA_PRIVATE, {CK_TRUE}},    {publicKey, CKA_PRIVATE, {CK_FALSE}},
      {privateKey, CKA_SIGN, {CK_TRUE}},       {privateKey, CKA_DECRYPT, {CK_TRUE}},
      {privateKey, CKA_UNWRAP, {CK_TRUE}},     {publicKey, CKA_VERIFY, {CK_TRUE}},
      {publicKey, CKA_ENCRYPT, {CK_TRUE}},     {publicKey, CKA_WRAP, {CK_TRUE}},
      {privateKey, CKA_LOCAL, {CK_TRUE}},      {publicKey, CKA_ID, id},
      {publicKey, CKA_LABEL, FromText(label)}, {privateKey, CKA_ALWAYS_AUTHENTICATE, {CK_FALSE}},
  };
  for (const Expected& e : expected)
    EXPECT_EQ(Attribute(session, e.object, e.type), e.value) << std::hex << e.type;
  CK_ULONG bits = 0;
  CK_ATTRIBUTE modulusBits = Attr(CKA_MODULUS_BITS, &bits);
  ASSERT_EQ(p11()->C_GetAttributeValue(session, publicKey, &modulusBits, 1), CKR_OK);
  EXPECT_EQ(bits, 1024u);
  CK_MECHANISM_TYPE generatedBy = 0;
  CK_ATTRIBUTE mechanism = Attr(CKA_KEY_GEN_MECHANISM, &generatedBy);
  ASSERT_EQ(p11()->C_GetAttributeValue(session, privateKey, &mechanism, 1), CKR_OK);
  EXPECT_EQ(generatedBy, static_cast<CK_MECHANISM_TYPE>(CKM_RSA_PKCS_KEY_PAIR_GEN));
}

// A label names the pair's container only where the token's name lists can
// carry it; otherwise the container gets a name of its own and the label is
// kept all the same.
TEST_F(ObjectTest, LabelsTheNameListsCannotCarryDoNotNameTheContainer) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const struct {
    std::string label;
    bool namesContainer;
  } cases[] = {{"plain", true},
               {"pipe|x", false},
               {"back\\slash", false},
               {"tab\tx", false},
               {std::string(50, 'a'), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto [privateKey, publicKey] = GeneratePair(session, 512, c.label, Bytes{0x01});
    EXPECT_EQ(Attribute(session, publicKey, CKA_LABEL), FromText(c.label));
    const std::string containers = "|" + Subkeys(store::kContainerRoot) + "|";
    EXPECT_EQ(containers.find("|" + c.label + "|") != std::string::npos, c.namesContainer)
        << containers;
    EXPECT_EQ(p11()->C_DestroyObject(session, privateKey), CKR_OK);
  }
  EXPECT_EQ(Subkeys(store::kContainerRoot), "");
}

TEST_F(ObjectTest, GetAttributeValueFollowsTheStandardsRules) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 1024, "rules", {});
  uint8_t small[4];
  uint8_t modulus[128];
  CK_ATTRIBUTE attributes[] = {
      {CKA_PRIVATE_EXPONENT, nullptr, 0},  // sensitive
      {CKA_VALUE, nullptr, 0},             // not an attribute of a key pair
      {CKA_MODULUS, small, sizeof small},  // too small a buffer
      {CKA_MODULUS, nullptr, 0},           // a length query
      {CKA_MODULUS, modulus, sizeof modulus},
      {CKA_PRIME_1, nullptr, 0},
  };
  const CK_RV rv = p11()->C_GetAttributeValue(session, privateKey, attributes, 6);
  EXPECT_TRUE(rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID ||
              rv == CKR_BUFFER_TOO_SMALL)
      << rv;
  EXPECT_EQ(attributes[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(attributes[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(attributes[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(attributes[3].ulValueLen, 128u);
  EXPECT_EQ(attributes[4].ulValueLen, 128u);
  EXPECT_EQ(attributes[5].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(Bytes(modulus, modulus + 128), Attribute(session, publicKey, CKA_MODULUS));
  // One problem alone gives its own code.
  CK_ATTRIBUTE one = {CKA_COEFFICIENT, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, privateKey, &one, 1), CKR_ATTRIBUTE_SENSITIVE);
  one = {CKA_CERTIFICATE_TYPE, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, publicKey, &one, 1), CKR_ATTRIBUTE_TYPE_INVALID);
  one = {CKA_MODULUS, small, sizeof small};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, publicKey, &one, 1), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(p11()->C_GetAttributeValue(session, publicKey, nullptr, 1), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11()->C_GetAttributeValue(session, 9999, &one, 1), CKR_OBJECT_HANDLE_INVALID);
}

TEST_F(ObjectTest, PrivateObjectsAreHiddenUntilLogin) {
  CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 512, "hidden", {});
  ASSERT_EQ(p11()->C_Logout(session), CKR_OK);
  EXPECT_EQ(Find(session, {}), std::vector<CK_OBJECT_HANDLE>{publicKey});
  CK_ATTRIBUTE label{CKA_LABEL, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, privateKey, &label, 1), CKR_OBJECT_HANDLE_INVALID);
  auto* pin = reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kPin));
  ASSERT_EQ(p11()->C_Login(session, CKU_USER, pin, 4), CKR_OK);
  EXPECT_EQ(Find(session, {}).size(), 2u);
  EXPECT_EQ(p11()->C_GetAttributeValue(session, privateKey, &label, 1), CKR_OK);
}

TEST_F(ObjectTest, AnotherProcessDeletingThePairInvalidatesItsHandles) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 512, "doomed", {});
  // The module has read the pair (and may keep what it read).
  EXPECT_EQ(Find(session, {}).size(), 2u);
  EXPECT_EQ(Attribute(session, privateKey, CKA_LABEL), FromText("doomed"));
  // Another process sees the pair and removes its container.
  const pid_t child = fork();
  if (child == 0) {
    platform::ResetRegistryForTesting();
    const std::string path = store::ContainerPath("doomed");
    _exit(platform::DeleteKeyTree(path) == platform::kErrorSuccess ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CK_ATTRIBUTE label{CKA_LABEL, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, privateKey, &label, 1), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(p11()->C_GetAttributeValue(session, publicKey, &label, 1), CKR_OBJECT_HANDLE_INVALID);
  CK_MECHANISM mechanism{CKM_SHA1_RSA_PKCS, nullptr, 0};
  EXPECT_EQ(p11()->C_SignInit(session, &mechanism, privateKey), CKR_KEY_HANDLE_INVALID);
  EXPECT_TRUE(Find(session, {}).empty());
}

TEST_F(ObjectTest, ASignOperationStartedBeforeTheDeletionFailsCleanly) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 512, "racing", {});
  CK_MECHANISM mechanism{CKM_SHA1_RSA_PKCS, nullptr, 0};
  ASSERT_EQ(p11()->C_SignInit(session, &mechanism, privateKey), CKR_OK);
  platform::ResetRegistryForTesting();
  ASSERT_EQ(platform::DeleteKeyTree(store::ContainerPath("racing")), platform::kErrorSuccess);
  Bytes data(10, 1), signature(64);
  CK_ULONG length = signature.size();
  EXPECT_EQ(p11()->C_Sign(session, data.data(), data.size(), signature.data(), &length),
            CKR_KEY_HANDLE_INVALID);
}

TEST_F(ObjectTest, DestroyingEitherHalfRemovesThePairAndItsAttributes) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto first = GeneratePair(session, 512, "first", {1});
  const auto second = GeneratePair(session, 512, "second", {2});
  // The module's own area is beside the containers, never among them.
  EXPECT_EQ(Subkeys(store::kContainerRoot), "first|second");
  EXPECT_EQ(Subkeys("Software\\Quillmar\\Pkcs11\\Keys"), "first|second");
  const CK_SESSION_HANDLE readOnly = Open(false);
  EXPECT_EQ(p11()->C_DestroyObject(readOnly, first.second), CKR_SESSION_READ_ONLY);
  EXPECT_EQ(p11()->C_DestroyObject(session, first.second), CKR_OK);
  EXPECT_EQ(p11()->C_DestroyObject(session, second.first), CKR_OK);
  EXPECT_EQ(p11()->C_DestroyObject(session, second.first), CKR_OBJECT_HANDLE_INVALID);
  CK_ATTRIBUTE label{CKA_LABEL, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(session, first.first, &label, 1), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_TRUE(Find(session, {}).empty());
  EXPECT_EQ(Subkeys(store::kContainerRoot), "");
  EXPECT_EQ(Subkeys("Software\\Quillmar\\Pkcs11\\Keys"), "");
}

TEST_F(ObjectTest, SetAttributeValueChangesIdLabelAndSubjectOnly) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 512, "before", {9});
  const Bytes newId{7, 7, 7};
  const std::string newLabel = "after";
  const Bytes subject{0x30, 0x00};
  CK_ATTRIBUTE changes[] = {Attr(CKA_ID, newId), Attr(CKA_LABEL, newLabel),
                            Attr(CKA_SUBJECT, subject)};
  EXPECT_EQ(p11()->C_SetAttributeValue(session, privateKey, changes, 3), CKR_OK);
  // The halves of a pair share them: both change.
  EXPECT_EQ(Find(session, {Attr(CKA_ID, newId)}),
            (std::vector<CK_OBJECT_HANDLE>{privateKey, publicKey}));
  EXPECT_TRUE(Find(session, {Attr(CKA_ID, Bytes{9})}).empty());
  EXPECT_EQ(Attribute(session, publicKey, CKA_LABEL), FromText(newLabel));
  EXPECT_EQ(Attribute(session, privateKey, CKA_SUBJECT), subject);
  CK_ATTRIBUTE readOnly[] = {Attr(CKA_SIGN, &kFalse)};
  EXPECT_EQ(p11()->C_SetAttributeValue(session, privateKey, readOnly, 1), CKR_ATTRIBUTE_READ_ONLY);
  const CK_SESSION_HANDLE ro = Open(false);
  EXPECT_EQ(p11()->C_SetAttributeValue(ro, privateKey, changes, 1), CKR_SESSION_READ_ONLY);
}

TEST_F(ObjectTest, CreatedPrivateKeysAreCheckedAndStoredAsAPair) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  EVP_PKEY* key = OpenSslKey(1024);
  const CK_OBJECT_HANDLE privateKey = ImportKey(session, key, "imported", {4, 2});
  const auto halves = Find(session, {Attr(CKA_ID, Bytes{4, 2})});
  EXPECT_EQ(halves.size(), 2u);
  EXPECT_EQ(Attribute(session, privateKey, CKA_LOCAL), Bytes{CK_FALSE});
  // A key whose primes do not make its modulus is refused.
  CK_KEY_TYPE rsa = CKK_RSA;
  Bytes n(128, 0xc5), small(64, 0x83), e{1, 0, 1};
  std::vector<CK_ATTRIBUTE> bad = {Attr(CKA_CLASS, &kPrivateClass), Attr(CKA_KEY_TYPE, &rsa),
                                   Attr(CKA_TOKEN, &kTrue),         Attr(CKA_MODULUS, n),
                                   Attr(CKA_PUBLIC_EXPONENT, e),    Attr(CKA_PRIVATE_EXPONENT, n),
                                   Attr(CKA_PRIME_1, small),        Attr(CKA_PRIME_2, small),
                                   Attr(CKA_EXPONENT_1, small),     Attr(CKA_EXPONENT_2, small),
                                   Attr(CKA_COEFFICIENT, small)};
  CK_OBJECT_HANDLE object;
  EXPECT_EQ(p11()->C_CreateObject(session, bad.data(), bad.size(), &object),
            CKR_ATTRIBUTE_VALUE_INVALID);
  bad.pop_back();
  EXPECT_EQ(p11()->C_CreateObject(session, bad.data(), bad.size(), &object),
            CKR_TEMPLATE_INCOMPLETE);
  const CK_SESSION_HANDLE readOnly = Open(false);
  EXPECT_EQ(p11()->C_CreateObject(readOnly, bad.data(), bad.size(), &object),
            CKR_SESSION_READ_ONLY);
}

Bytes SelfSignedCertificate(EVP_PKEY* key, const char* commonName) {
  X509* certificate = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 4242);
  X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509_set_issuer_name(certificate, name);
  X509_set_pubkey(certificate, key);
  X509_sign(certificate, key, EVP_sha256());
  Bytes der(static_cast<std::size_t>(i2d_X509(certificate, nullptr)));
  unsigned char* p = der.data();
  i2d_X509(certificate, &p);
  X509_free(certificate);
  return der;
}

TEST_F(ObjectTest, CertificatesAreTokenObjectsBesideTheKeys) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const Bytes der = SelfSignedCertificate(OpenSslKey(1024), "token user");
  CK_CERTIFICATE_TYPE x509 = CKC_X_509;
  const Bytes id{0x11};
  const std::string label = "my certificate";
  std::vector<CK_ATTRIBUTE> attributes = {Attr(CKA_CLASS, &kCertificateClass),
                                          Attr(CKA_CERTIFICATE_TYPE, &x509),
                                          Attr(CKA_TOKEN, &kTrue),
                                          Attr(CKA_VALUE, der),
                                          Attr(CKA_ID, id),
                                          Attr(CKA_LABEL, label)};
  CK_OBJECT_HANDLE certificate;
  ASSERT_EQ(p11()->C_CreateObject(session, attributes.data(), attributes.size(), &certificate),
            CKR_OK);
  // Seen after a restart, and by a session that is not logged in.
  ASSERT_EQ(p11()->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(p11()->C_Initialize(nullptr), CKR_OK);
  const CK_SESSION_HANDLE reader = Open(false);
  const auto found = Find(reader, {Attr(CKA_CLASS, &kCertificateClass)});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(Attribute(reader, found[0], CKA_VALUE), der);
  EXPECT_EQ(Attribute(reader, found[0], CKA_ID), id);
  // The subject, issuer and serial come from the certificate when not given.
  X509_NAME* name = X509_NAME_new();
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("token user"), -1, -1, 0);
  Bytes subject(static_cast<std::size_t>(i2d_X509_NAME(name, nullptr)));
  unsigned char* p = subject.data();
  i2d_X509_NAME(name, &p);
  X509_NAME_free(name);
  EXPECT_EQ(Attribute(reader, found[0], CKA_SUBJECT), subject);
  EXPECT_EQ(Attribute(reader, found[0], CKA_ISSUER), subject);
  EXPECT_EQ(Attribute(reader, found[0], CKA_SERIAL_NUMBER), (Bytes{0x02, 0x02, 0x10, 0x92}));
  // The containers know nothing of it.
  EXPECT_EQ(Subkeys(store::kContainerRoot), "");
  const CK_SESSION_HANDLE writer = Open(true);
  const std::string renamed = "renamed";
  CK_ATTRIBUTE change = Attr(CKA_LABEL, renamed);
  EXPECT_EQ(p11()->C_SetAttributeValue(writer, found[0], &change, 1), CKR_OK);
  EXPECT_EQ(Attribute(reader, found[0], CKA_LABEL), FromText(renamed));
  EXPECT_EQ(p11()->C_DestroyObject(writer, found[0]), CKR_OK);
  EXPECT_TRUE(Find(reader, {}).empty());
  // Not a certificate at all.
  const Bytes notACertificate{1, 2, 3};
  attributes[3] = Attr(CKA_VALUE, notACertificate);
  EXPECT_EQ(p11()->C_CreateObject(writer, attributes.data(), attributes.size(), &certificate),
            CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(ObjectTest, DataObjectsPrivateOnesNeedLogin) {
  const CK_SESSION_HANDLE session = Open(true);
  const std::string application = "app";
  const Bytes value = FromText("some data");
  std::vector<CK_ATTRIBUTE> attributes = {Attr(CKA_CLASS, &kDataClass), Attr(CKA_TOKEN, &kTrue),
                                          Attr(CKA_APPLICATION, application),
                                          Attr(CKA_VALUE, value)};
  CK_OBJECT_HANDLE object;
  ASSERT_EQ(p11()->C_CreateObject(session, attributes.data(), attributes.size(), &object), CKR_OK);
  EXPECT_EQ(Attribute(session, object, CKA_VALUE), value);
  attributes.push_back(Attr(CKA_PRIVATE, &kTrue));
  EXPECT_EQ(p11()->C_CreateObject(session, attributes.data(), attributes.size(), &object),
            CKR_USER_NOT_LOGGED_IN);
  attributes.back() = Attr(CKA_MODULUS, value);
  EXPECT_EQ(p11()->C_CreateObject(session, attributes.data(), attributes.size(), &object),
            CKR_ATTRIBUTE_TYPE_INVALID);
  // An application's own attributes are kept.
  attributes.back() = Attr(CKA_VENDOR_DEFINED + 5, value);
  ASSERT_EQ(p11()->C_CreateObject(session, attributes.data(), attributes.size(), &object), CKR_OK);
  EXPECT_EQ(Attribute(session, object, CKA_VENDOR_DEFINED + 5), value);
  ASSERT_EQ(p11()->C_DestroyObject(session, object), CKR_OK);
  // A session object goes with its session.
  attributes.pop_back();
  attributes[1] = Attr(CKA_TOKEN, &kFalse);
  const CK_SESSION_HANDLE other = Open(false);
  ASSERT_EQ(p11()->C_CreateObject(other, attributes.data(), attributes.size(), &object), CKR_OK);
  EXPECT_EQ(Find(session, {Attr(CKA_TOKEN, &kFalse)}), std::vector<CK_OBJECT_HANDLE>{object});
  const Bytes changed = FromText("other data");
  CK_ATTRIBUTE change = Attr(CKA_VALUE, changed);
  EXPECT_EQ(p11()->C_SetAttributeValue(session, object, &change, 1), CKR_OK);
  EXPECT_EQ(Attribute(other, object, CKA_VALUE), changed);
  CK_ATTRIBUTE readOnly = Attr(CKA_CLASS, &kPublicClass);
  EXPECT_EQ(p11()->C_SetAttributeValue(session, object, &readOnly, 1), CKR_ATTRIBUTE_READ_ONLY);
  ASSERT_EQ(p11()->C_CloseSession(other), CKR_OK);
  EXPECT_TRUE(Find(session, {Attr(CKA_TOKEN, &kFalse)}).empty());
}

TEST_F(ObjectTest, ASearchSeesPairsMadeMeanwhileAndOneSearchAtATime) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const CK_SESSION_HANDLE other = Open(true);
  EXPECT_TRUE(Find(other, {}).empty());
  GeneratePair(session, 512, "late", {});
  EXPECT_EQ(Find(other, {Attr(CKA_CLASS, &kPrivateClass)}).size(), 1u);
  ASSERT_EQ(p11()->C_FindObjectsInit(other, nullptr, 0), CKR_OK);
  EXPECT_EQ(p11()->C_FindObjectsInit(other, nullptr, 0), CKR_OPERATION_ACTIVE);
  CK_ULONG count = 0;
  EXPECT_EQ(p11()->C_FindObjects(other, nullptr, 1, &count), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11()->C_FindObjectsFinal(other), CKR_OK);
  EXPECT_EQ(p11()->C_FindObjectsInit(other, nullptr, 1), CKR_ARGUMENTS_BAD);
}

}  // namespace
}  // namespace marlinok::test
