// The module's own registry area, "Software\Quillmar\Pkcs11", a sibling of
// the container root (below it, anything would be listed as a container):
//
//   Pkcs11                 value Serial: the token's serial number
//   Pkcs11\Keys\<container>\Sig|Exh
//                          values Attributes (CKA_ID, CKA_LABEL, CKA_SUBJECT,
//                          CKA_LOCAL as an application chose them) and
//                          ModulusHash (SHA-1 of the pair's modulus: the
//                          attributes of a pair that was since replaced by
//                          another are not taken over)
//   Pkcs11\Objects\<name>  value Attributes: a certificate or data object
//
// An attribute list is stored as (type, length, bytes) triples, each number
// a little-endian 32-bit value.
#ifndef MARLINOK_PKCS11_ATTRIBUTE_STORE_H
#define MARLINOK_PKCS11_ATTRIBUTE_STORE_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pkcs11/pkcs11_api.h"

namespace marlinok::pkcs11 {

constexpr char kModuleRoot[] = "Software\\Quillmar\\Pkcs11";

struct Attribute {
  CK_ATTRIBUTE_TYPE type;
  Bytes value;
};
using AttributeList = std::vector<Attribute>;

// The value of `type` in `list`, or null.
const Bytes* FindAttribute(const AttributeList& list, CK_ATTRIBUTE_TYPE type);
// Replaces or appends.
void PutAttribute(AttributeList& list, CK_ATTRIBUTE_TYPE type, Bytes value);

Bytes SerializeAttributes(const AttributeList& list);
bool ParseAttributes(const uint8_t* data, std::size_t length, AttributeList* list);

// The attributes the module keeps for a pair; an empty list when there are
// none, or when they belong to a pair with another modulus.
AttributeList ReadPairAttributes(const std::string& container, bool exchange,
                                 const Bytes& modulusHash);
bool WritePairAttributes(const std::string& container, bool exchange, const Bytes& modulusHash,
                         const AttributeList& list);
void RemovePairAttributes(const std::string& container, bool exchange);

// The attributes of every pair at once (a search reads them in one go), by
// PairAttributesKey.
using StoredPairAttributes = std::map<std::string, AttributeList>;
StoredPairAttributes ReadAllPairAttributes();
std::string PairAttributesKey(const std::string& container, bool exchange);
// Those of one pair, as ReadPairAttributes would read them.
AttributeList PairAttributesFrom(const StoredPairAttributes& all, const std::string& container,
                                 bool exchange, const Bytes& modulusHash);

// Token objects of the module's own (certificates, data): their names, or
// all of them with their attributes.
std::vector<std::string> ListModuleObjects();
std::vector<std::pair<std::string, AttributeList>> ReadAllModuleObjects();
bool ReadTokenObject(const std::string& name, AttributeList* list);
bool WriteTokenObject(const std::string& name, const AttributeList& list);
bool DeleteTokenObject(const std::string& name);

// The serial number of the token of this hive, made on first use: 16
// hexadecimal digits. Falls back to a fixed text when the hive is unwritable.
std::string TokenSerial();

}  // namespace marlinok::pkcs11

#endif
