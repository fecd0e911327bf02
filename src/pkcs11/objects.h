// The token's objects as the standard sees them. Every stored pair is a
// private and a public RSA key object; certificates and data objects of the
// module's own area are token objects beside them; secret keys (and objects
// an application makes with CKA_TOKEN false) are session objects, held in
// memory. Handles are stable: the same object keeps its handle across
// searches. Token objects are read from the hive, and kept in a cache only as
// long as the registry's stamp shows no write since (by any process), so a
// pair another process deleted answers CKR_OBJECT_HANDLE_INVALID.
#ifndef MARLINOK_PKCS11_OBJECTS_H
#define MARLINOK_PKCS11_OBJECTS_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/secret_buffer.h"
#include "pkcs11/attribute_store.h"
#include "pkcs11/pkcs11_api.h"
#include "rsa/key_record.h"

namespace marlinok::pkcs11 {

enum class ObjectKind { PrivateKey, PublicKey, ModuleObject, SessionObject };

// An object held in memory. `secret` is a secret key's CKA_VALUE, which is
// not kept in `attributes`.
struct SessionObject {
  CK_SESSION_HANDLE owner = 0;
  mutable std::mutex mutex;  // guards `attributes`, which C_SetAttributeValue may change
  AttributeList attributes;
  SecretBuffer secret;  // set when made, never changed
};

struct ObjectRef {
  ObjectKind kind = ObjectKind::ModuleObject;
  std::string container;  // the pair's container (key objects)
  bool exchange = false;  // the exchange pair, else the signature pair
  std::string name;       // the module object's entry
  std::shared_ptr<SessionObject> session;

  // The identity the handle table files the object under.
  std::string Key() const;
};

// An object's attributes as the standard exposes them, read now.
struct LoadedObject {
  AttributeList attributes;
  std::vector<CK_ATTRIBUTE_TYPE> sensitive;  // present, never handed out
  bool isPrivate = false;
  bool isToken = false;
  CK_OBJECT_CLASS objectClass = CKO_DATA;
  uint32_t modulusBits = 0;             // key objects
  rsa::PublicKeyRecord publicRecord{};  // key objects
};

// Handles and the objects they name. Not locked: the module's lock guards it.
class ObjectTable {
 public:
  CK_OBJECT_HANDLE HandleFor(const ObjectRef& ref);
  bool Lookup(CK_OBJECT_HANDLE handle, ObjectRef* ref) const;
  void Forget(CK_OBJECT_HANDLE handle);
  // The session objects of `session` (all of them when 0).
  void ForgetSessionObjects(CK_SESSION_HANDLE session);
  std::vector<ObjectRef> SessionObjects() const;
  void Clear();

 private:
  std::map<CK_OBJECT_HANDLE, ObjectRef> objects_;
  std::map<std::string, CK_OBJECT_HANDLE> handles_;
  CK_OBJECT_HANDLE next_ = 1;
};

// The token objects in the hive now: both halves of every pair, then the
// module's objects. Private ones are left out unless `loggedIn`.
std::vector<ObjectRef> ListStoredObjects();

// Reads the object. CKR_OBJECT_HANDLE_INVALID when it is gone, or is private
// and `loggedIn` is false. `refresh` false: what ListStoredObjects just
// looked at is taken as current (one look at the registry per search).
CK_RV LoadObject(const ObjectRef& ref, bool loggedIn, LoadedObject* out, bool refresh = true);

// C_GetAttributeValue over a loaded object, by the standard's rules.
CK_RV GetAttributes(const LoadedObject& object, CK_ATTRIBUTE_PTR attributes, CK_ULONG count);

// Whether every attribute of the template is present with the same value.
bool Matches(const LoadedObject& object, const CK_ATTRIBUTE* attributes, CK_ULONG count);

// The NUL-terminated reference of a pair's private or public record, for
// the token's key operations.
std::string RecordReference(const ObjectRef& pair, bool privateRecord);

// C_CreateObject: an RSA private key stored as a pair (token), a
// certificate or data object (token or session), a DES3 or RC4 secret key
// (session). `session` owns session objects. `refs` receives what was made
// (for a pair, the private key first).
CK_RV CreateObject(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_SESSION_HANDLE session,
                   bool loggedIn, std::vector<ObjectRef>* refs);

// Generates a pair (C_GenerateKeyPair with CKM_RSA_PKCS_KEY_PAIR_GEN).
CK_RV GeneratePair(const CK_ATTRIBUTE* publicTemplate, CK_ULONG publicCount,
                   const CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount,
                   std::vector<ObjectRef>* refs);

// C_DestroyObject of a token object: a key object removes its whole pair.
CK_RV DestroyTokenObject(const ObjectRef& ref);

// C_SetAttributeValue: CKA_ID, CKA_LABEL and CKA_SUBJECT of any object (and
// of a data or certificate object its CKA_VALUE too, when not a key).
CK_RV SetAttributes(const ObjectRef& ref, const CK_ATTRIBUTE* attributes, CK_ULONG count);

// Value helpers.
Bytes UlongBytes(CK_ULONG value);
Bytes BoolBytes(bool value);
// The attribute's value as a CK_ULONG / CK_BBOOL; false when absent or of
// the wrong size.
bool TemplateUlong(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                   CK_ULONG* value);
bool TemplateBool(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                  bool* value);
const CK_ATTRIBUTE* TemplateFind(const CK_ATTRIBUTE* attributes, CK_ULONG count,
                                 CK_ATTRIBUTE_TYPE type);

}  // namespace marlinok::pkcs11

#endif
