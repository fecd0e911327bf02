#include "pkcs11/attribute_store.h"

#include <cstdio>

#include "core/byte_order.h"
#include "core/secret_buffer.h"
#include "pkcs11/os_random.h"
#include "platform/registry.h"
#include "store/value_reader.h"

namespace marlinok::pkcs11 {

using namespace marlinok::platform;

namespace {

constexpr char kAttributesValue[] = "Attributes";
constexpr char kModulusHashValue[] = "ModulusHash";
constexpr char kSerialValue[] = "Serial";
// Where ReadAllPairAttributes files a pair's modulus hash beside its
// attributes (a type no attribute has).
constexpr CK_ATTRIBUTE_TYPE kModulusHashMark = CKA_VENDOR_DEFINED | 0x4d4c4e00UL;

std::string KeysPath(const std::string& container) {
  return std::string(kModuleRoot) + "\\Keys\\" + container;
}
std::string PairPath(const std::string& container, bool exchange) {
  return KeysPath(container) + (exchange ? "\\Exh" : "\\Sig");
}
std::string ObjectsPath() { return std::string(kModuleRoot) + "\\Objects"; }
std::string ObjectPath(const std::string& name) { return ObjectsPath() + "\\" + name; }

bool ReadValue(const RegistryKey& key, const char* name, Bytes* out) {
  SecretBuffer value;
  if (store::ReadWholeValue(key, name, &value) != kErrorSuccess) return false;
  out->assign(value.data(), value.data() + value.size());
  return true;
}

bool WriteValue(const RegistryKey& key, const char* name, const Bytes& bytes) {
  return SetValue(key, name, kRegBinary, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
         kErrorSuccess;
}

}  // namespace

const Bytes* FindAttribute(const AttributeList& list, CK_ATTRIBUTE_TYPE type) {
  for (const Attribute& a : list)
    if (a.type == type) return &a.value;
  return nullptr;
}

void PutAttribute(AttributeList& list, CK_ATTRIBUTE_TYPE type, Bytes value) {
  for (Attribute& a : list) {
    if (a.type == type) {
      a.value = std::move(value);
      return;
    }
  }
  list.push_back({type, std::move(value)});
}

Bytes SerializeAttributes(const AttributeList& list) {
  Bytes out;
  for (const Attribute& a : list) {
    uint8_t header[8];
    StoreLe32(header, static_cast<uint32_t>(a.type));
    StoreLe32(header + 4, static_cast<uint32_t>(a.value.size()));
    out.insert(out.end(), header, header + 8);
    out.insert(out.end(), a.value.begin(), a.value.end());
  }
  return out;
}

bool ParseAttributes(const uint8_t* data, std::size_t length, AttributeList* list) {
  list->clear();
  std::size_t at = 0;
  while (at < length) {
    if (length - at < 8) return false;
    const uint32_t type = LoadLe32(data + at);
    const uint32_t size = LoadLe32(data + at + 4);
    at += 8;
    if (length - at < size) return false;
    list->push_back({type, Bytes(data + at, data + at + size)});
    at += size;
  }
  return true;
}

AttributeList ReadPairAttributes(const std::string& container, bool exchange,
                                 const Bytes& modulusHash) {
  RegistryKey key;
  if (OpenKey(PairPath(container, exchange).c_str(), key) != kErrorSuccess) return {};
  Bytes hash, serialized;
  if (!ReadValue(key, kModulusHashValue, &hash) || hash != modulusHash) return {};
  AttributeList list;
  if (!ReadValue(key, kAttributesValue, &serialized) ||
      !ParseAttributes(serialized.data(), serialized.size(), &list))
    return {};
  return list;
}

bool WritePairAttributes(const std::string& container, bool exchange, const Bytes& modulusHash,
                         const AttributeList& list) {
  RegistryKey key;
  if (CreateKey(PairPath(container, exchange).c_str(), key, nullptr) != kErrorSuccess) return false;
  const Bytes serialized = SerializeAttributes(list);
  const ValueWrite writes[] = {
      {kModulusHashValue, kRegBinary, modulusHash.data(),
       static_cast<uint32_t>(modulusHash.size())},
      {kAttributesValue, kRegBinary, serialized.data(), static_cast<uint32_t>(serialized.size())}};
  return SetValues(key, writes, 2) == kErrorSuccess;
}

void RemovePairAttributes(const std::string& container, bool exchange) {
  (void)DeleteKeyTree(PairPath(container, exchange));
  // The container's key goes when it holds the other pair's attributes no more.
  (void)DeleteKey(KeysPath(container).c_str());
}

namespace {

bool WantsAll(const std::string&) { return true; }

std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

const TreeValue* FindValue(const std::vector<TreeValue>& values, const char* name) {
  const std::string wanted = Folded(name);
  for (const TreeValue& value : values)
    if (Folded(value.name) == wanted) return &value;
  return nullptr;
}

}  // namespace

std::string PairAttributesKey(const std::string& container, bool exchange) {
  return Folded(container + (exchange ? "\\exh" : "\\sig"));
}

StoredPairAttributes ReadAllPairAttributes() {
  StoredPairAttributes all;
  std::vector<TreeKey> keys;
  if (ReadKeyTree((std::string(kModuleRoot) + "\\Keys").c_str(), 2, WantsAll, keys) !=
      kErrorSuccess)
    return all;
  for (const TreeKey& key : keys) {
    const TreeValue* hash = FindValue(key.values, kModulusHashValue);
    const TreeValue* serialized = FindValue(key.values, kAttributesValue);
    AttributeList list;
    if (hash == nullptr || serialized == nullptr ||
        !ParseAttributes(serialized->data.data(), serialized->data.size(), &list))
      continue;
    PutAttribute(list, kModulusHashMark, hash->data);
    all.emplace(Folded(key.path), std::move(list));
  }
  return all;
}

AttributeList PairAttributesFrom(const StoredPairAttributes& all, const std::string& container,
                                 bool exchange, const Bytes& modulusHash) {
  auto found = all.find(PairAttributesKey(container, exchange));
  if (found == all.end()) return {};
  const Bytes* hash = FindAttribute(found->second, kModulusHashMark);
  if (hash == nullptr || *hash != modulusHash) return {};
  AttributeList list;
  for (const Attribute& a : found->second)
    if (a.type != kModulusHashMark) list.push_back(a);
  return list;
}

std::vector<std::pair<std::string, AttributeList>> ReadAllModuleObjects() {
  std::vector<std::pair<std::string, AttributeList>> objects;
  std::vector<TreeKey> keys;
  if (ReadKeyTree(ObjectsPath().c_str(), 1, WantsAll, keys) != kErrorSuccess) return objects;
  for (const TreeKey& key : keys) {
    if (key.path.empty()) continue;  // the Objects key itself
    const TreeValue* serialized = FindValue(key.values, kAttributesValue);
    AttributeList list;
    if (serialized != nullptr &&
        ParseAttributes(serialized->data.data(), serialized->data.size(), &list))
      objects.emplace_back(key.path, std::move(list));
  }
  return objects;
}

std::vector<std::string> ListModuleObjects() {
  RegistryKey key;
  std::vector<std::string> names;
  if (OpenKey(ObjectsPath().c_str(), key) != kErrorSuccess) return names;
  if (EnumSubkeyNames(key, names) != kErrorSuccess) names.clear();
  return names;
}

bool ReadTokenObject(const std::string& name, AttributeList* list) {
  RegistryKey key;
  if (OpenKey(ObjectPath(name).c_str(), key) != kErrorSuccess) return false;
  Bytes serialized;
  return ReadValue(key, kAttributesValue, &serialized) &&
         ParseAttributes(serialized.data(), serialized.size(), list);
}

bool WriteTokenObject(const std::string& name, const AttributeList& list) {
  RegistryKey key;
  if (CreateKey(ObjectPath(name).c_str(), key, nullptr) != kErrorSuccess) return false;
  return WriteValue(key, kAttributesValue, SerializeAttributes(list));
}

bool DeleteTokenObject(const std::string& name) {
  return DeleteKeyTree(ObjectPath(name)) == kErrorSuccess;
}

std::string TokenSerial() {
  RegistryKey key;
  if (CreateKey(kModuleRoot, key, nullptr) != kErrorSuccess) return "0000000000000000";
  Bytes stored;
  if (ReadValue(key, kSerialValue, &stored) && stored.size() == 16)
    return std::string(stored.begin(), stored.end());
  uint8_t random[8];
  if (!OsRandom(random, sizeof random)) return "0000000000000000";
  char text[17];
  for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", random[i]);
  const Bytes serial(text, text + 16);
  (void)WriteValue(key, kSerialValue, serial);
  // Another process may have written its serial first: the stored one wins.
  if (ReadValue(key, kSerialValue, &stored) && stored.size() == 16)
    return std::string(stored.begin(), stored.end());
  return std::string(text, 16);
}

}  // namespace marlinok::pkcs11
