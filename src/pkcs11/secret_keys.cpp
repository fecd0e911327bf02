#include "pkcs11/secret_keys.h"

#include <cstring>

#include "core/wipe.h"
#include "pkcs11/os_random.h"
#include "symmetric/cipher_primitives.h"

namespace marlinok::pkcs11 {
namespace {

using symmetric::Direction;
using symmetric::kDesBlockBytes;

constexpr std::size_t kTripleDesKeyBytes = 24;
constexpr std::size_t kMaxRc4KeyBytes = 256;

bool ScheduleTripleDes(const uint8_t* key, symmetric::TripleDesKeySchedule* schedule) {
  return symmetric::ScheduleCheckedKey(key, schedule->k1) &&
         symmetric::ScheduleCheckedKey(key + 8, schedule->k2) &&
         symmetric::ScheduleCheckedKey(key + 16, schedule->k3);
}

enum class DesMode { Ecb, Cbc, CbcPad };

class TripleDesOperation : public Operation {
 public:
  TripleDesOperation(const symmetric::TripleDesKeySchedule& schedule, DesMode mode,
                     const uint8_t* iv, bool encrypt)
      : schedule_(schedule), mode_(mode), encrypt_(encrypt) {
    if (iv != nullptr) std::memcpy(iv_, iv, sizeof iv_);
  }
  ~TripleDesOperation() override {
    SecureWipeObject(schedule_);
    SecureWipe(partial_.data(), partial_.size());
  }

  CK_RV Update(const uint8_t* data, std::size_t length, Bytes* output) override {
    partial_.insert(partial_.end(), data, data + length);
    std::size_t blocks = partial_.size() / kDesBlockBytes;
    // Decrypting with padding keeps the last whole block for Final.
    if (!encrypt_ && mode_ == DesMode::CbcPad && blocks > 0 &&
        partial_.size() % kDesBlockBytes == 0)
      --blocks;
    Run(blocks, output);
    return CKR_OK;
  }

  CK_RV Final(Bytes* output) override {
    output->clear();
    if (encrypt_) {
      if (mode_ == DesMode::CbcPad) {
        const auto pad = static_cast<uint8_t>(kDesBlockBytes - partial_.size() % kDesBlockBytes);
        partial_.insert(partial_.end(), pad, pad);
      }
      if (partial_.size() % kDesBlockBytes != 0) return CKR_DATA_LEN_RANGE;
      Run(partial_.size() / kDesBlockBytes, output);
      return CKR_OK;
    }
    if (mode_ != DesMode::CbcPad) {
      return partial_.empty() ? CKR_OK : CKR_ENCRYPTED_DATA_LEN_RANGE;
    }
    if (partial_.size() != kDesBlockBytes) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    Bytes last;
    Run(1, &last);
    const uint8_t pad = last[kDesBlockBytes - 1];
    bool valid = pad >= 1 && pad <= kDesBlockBytes;
    for (std::size_t i = 0; valid && i < pad; ++i) valid = last[kDesBlockBytes - 1 - i] == pad;
    if (!valid) {
      SecureWipe(last.data(), last.size());
      return CKR_ENCRYPTED_DATA_INVALID;
    }
    output->assign(last.begin(), last.end() - pad);
    SecureWipe(last.data(), last.size());
    return CKR_OK;
  }

 private:
  // Runs the first `blocks` blocks of the held input into `output`.
  void Run(std::size_t blocks, Bytes* output) {
    const std::size_t bytes = blocks * kDesBlockBytes;
    output->assign(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(bytes));
    const Direction direction = encrypt_ ? Direction::Encrypt : Direction::Decrypt;
    for (std::size_t b = 0; b < blocks; ++b) {
      uint8_t* block = output->data() + b * kDesBlockBytes;
      if (mode_ == DesMode::Ecb) {
        symmetric::TripleDesBlock(schedule_, block, direction);
      } else if (encrypt_) {
        for (std::size_t i = 0; i < kDesBlockBytes; ++i) block[i] ^= iv_[i];
        symmetric::TripleDesBlock(schedule_, block, direction);
        std::memcpy(iv_, block, kDesBlockBytes);
      } else {
        uint8_t cipher[kDesBlockBytes];
        std::memcpy(cipher, block, kDesBlockBytes);
        symmetric::TripleDesBlock(schedule_, block, direction);
        for (std::size_t i = 0; i < kDesBlockBytes; ++i) block[i] ^= iv_[i];
        std::memcpy(iv_, cipher, kDesBlockBytes);
      }
    }
    SecureWipe(partial_.data(), bytes);
    partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(bytes));
  }

  symmetric::TripleDesKeySchedule schedule_;
  DesMode mode_;
  bool encrypt_;
  uint8_t iv_[kDesBlockBytes] = {};
  Bytes partial_;
};

class Rc4Operation : public Operation {
 public:
  Rc4Operation(const uint8_t* key, std::size_t length) {
    symmetric::Rc4SetKey(state_, key, length);
  }
  ~Rc4Operation() override { SecureWipeObject(state_); }
  CK_RV Update(const uint8_t* data, std::size_t length, Bytes* output) override {
    output->assign(length, 0);
    if (length != 0) symmetric::Rc4Crypt(state_, data, output->data(), length);
    return CKR_OK;
  }
  CK_RV Final(Bytes* output) override {
    output->clear();
    return CKR_OK;
  }

 private:
  symmetric::Rc4State state_;
};

bool ListBool(const AttributeList& list, CK_ATTRIBUTE_TYPE type, bool fallback) {
  const Bytes* value = FindAttribute(list, type);
  if (value == nullptr || value->size() != 1) return fallback;
  return (*value)[0] != 0;
}

CK_ULONG KeyTypeOf(const SessionObject& key) {
  std::lock_guard<std::mutex> lock(key.mutex);
  const Bytes* value = FindAttribute(key.attributes, CKA_KEY_TYPE);
  CK_ULONG type = CK_UNAVAILABLE_INFORMATION;
  if (value != nullptr && value->size() == sizeof type)
    std::memcpy(&type, value->data(), sizeof type);
  return type;
}

// Makes the session object of a secret key from its value and the
// application's template.
CK_RV MakeSecretKey(CK_KEY_TYPE keyType, const uint8_t* value, std::size_t length,
                    const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_SESSION_HANDLE session,
                    CK_MECHANISM_TYPE generatedBy, std::vector<ObjectRef>* refs) {
  static const CK_ATTRIBUTE_TYPE kBools[] = {
      CKA_TOKEN,     CKA_PRIVATE,     CKA_MODIFIABLE, CKA_ENCRYPT,    CKA_DECRYPT,
      CKA_SIGN,      CKA_VERIFY,      CKA_WRAP,       CKA_UNWRAP,     CKA_DERIVE,
      CKA_SENSITIVE, CKA_EXTRACTABLE, CKA_COPYABLE,   CKA_DESTROYABLE};
  AttributeList list;
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE& a = attributes[i];
    if (a.pValue == nullptr && a.ulValueLen != 0) return CKR_ATTRIBUTE_VALUE_INVALID;
    const auto* bytes = static_cast<const uint8_t*>(a.pValue);
    bool isBool = false;
    for (CK_ATTRIBUTE_TYPE b : kBools) isBool |= a.type == b;
    if (isBool) {
      if (a.ulValueLen != sizeof(CK_BBOOL)) return CKR_ATTRIBUTE_VALUE_INVALID;
      PutAttribute(list, a.type, BoolBytes(bytes[0] != 0));
    } else if (a.type == CKA_LABEL || a.type == CKA_ID || a.type == CKA_START_DATE ||
               a.type == CKA_END_DATE) {
      PutAttribute(list, a.type, Bytes(bytes, bytes + a.ulValueLen));
    } else if (a.type == CKA_CLASS || a.type == CKA_KEY_TYPE || a.type == CKA_VALUE ||
               a.type == CKA_VALUE_LEN) {
      // Checked by the callers.
    } else {
      return CKR_ATTRIBUTE_TYPE_INVALID;
    }
  }
  if (ListBool(list, CKA_TOKEN, false)) return CKR_TEMPLATE_INCONSISTENT;  // session keys only
  const bool sensitive = ListBool(list, CKA_SENSITIVE, false);
  const bool extractable = ListBool(list, CKA_EXTRACTABLE, true);
  const bool local = generatedBy != CK_UNAVAILABLE_INFORMATION;
  auto object = std::make_shared<SessionObject>();
  object->owner = session;
  object->secret = SecretBuffer(length);
  if (length != 0) std::memcpy(object->secret.data(), value, length);
  AttributeList& a = object->attributes;
  a.push_back({CKA_CLASS, UlongBytes(CKO_SECRET_KEY)});
  a.push_back({CKA_KEY_TYPE, UlongBytes(keyType)});
  a.push_back({CKA_TOKEN, BoolBytes(false)});
  a.push_back({CKA_PRIVATE, BoolBytes(ListBool(list, CKA_PRIVATE, false))});
  a.push_back({CKA_MODIFIABLE, BoolBytes(ListBool(list, CKA_MODIFIABLE, true))});
  a.push_back({CKA_COPYABLE, BoolBytes(false)});
  a.push_back({CKA_DESTROYABLE, BoolBytes(true)});
  const Bytes* label = FindAttribute(list, CKA_LABEL);
  const Bytes* id = FindAttribute(list, CKA_ID);
  a.push_back({CKA_LABEL, label != nullptr ? *label : Bytes()});
  a.push_back({CKA_ID, id != nullptr ? *id : Bytes()});
  a.push_back({CKA_START_DATE, Bytes()});
  a.push_back({CKA_END_DATE, Bytes()});
  a.push_back({CKA_DERIVE, BoolBytes(false)});
  a.push_back({CKA_LOCAL, BoolBytes(local)});
  a.push_back({CKA_KEY_GEN_MECHANISM, UlongBytes(generatedBy)});
  for (CK_ATTRIBUTE_TYPE type : {CKA_ENCRYPT, CKA_DECRYPT})
    a.push_back({type, BoolBytes(ListBool(list, type, true))});
  for (CK_ATTRIBUTE_TYPE type : {CKA_SIGN, CKA_VERIFY, CKA_WRAP, CKA_UNWRAP})
    a.push_back({type, BoolBytes(ListBool(list, type, false))});
  a.push_back({CKA_SENSITIVE, BoolBytes(sensitive)});
  a.push_back({CKA_EXTRACTABLE, BoolBytes(extractable)});
  a.push_back({CKA_ALWAYS_SENSITIVE, BoolBytes(sensitive && local)});
  a.push_back({CKA_NEVER_EXTRACTABLE, BoolBytes(!extractable && local)});
  a.push_back({CKA_VALUE_LEN, UlongBytes(length)});
  ObjectRef ref;
  ref.kind = ObjectKind::SessionObject;
  ref.session = std::move(object);
  refs->push_back(ref);
  return CKR_OK;
}

CK_RV CheckKeyValue(CK_KEY_TYPE keyType, const uint8_t* value, std::size_t length) {
  if (keyType == CKK_DES3) {
    if (length != kTripleDesKeyBytes) return CKR_ATTRIBUTE_VALUE_INVALID;
    uint8_t key[kTripleDesKeyBytes];
    WipeOnExit<uint8_t[kTripleDesKeyBytes]> wipe(key);
    std::memcpy(key, value, sizeof key);
    for (int part = 0; part < 3; ++part) symmetric::SetOddParity(key + 8 * part);
    symmetric::TripleDesKeySchedule schedule;
    WipeOnExit<symmetric::TripleDesKeySchedule> wipeSchedule(schedule);
    return ScheduleTripleDes(key, &schedule) ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
  }
  if (keyType == CKK_RC4)
    return length >= 1 && length <= kMaxRc4KeyBytes ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
  return CKR_ATTRIBUTE_VALUE_INVALID;
}

CK_RV SecretKeyFromValue(const uint8_t* value, std::size_t length, const CK_ATTRIBUTE* attributes,
                         CK_ULONG count, CK_SESSION_HANDLE session, std::vector<ObjectRef>* refs) {
  CK_ULONG objectClass = 0, keyType = 0;
  if (!TemplateUlong(attributes, count, CKA_CLASS, &objectClass) ||
      !TemplateUlong(attributes, count, CKA_KEY_TYPE, &keyType))
    return CKR_TEMPLATE_INCOMPLETE;
  if (objectClass != CKO_SECRET_KEY) return CKR_TEMPLATE_INCONSISTENT;
  if (keyType != CKK_DES3 && keyType != CKK_RC4) return CKR_ATTRIBUTE_VALUE_INVALID;
  if (const CK_RV rv = CheckKeyValue(keyType, value, length); rv != CKR_OK) return rv;
  return MakeSecretKey(keyType, value, length, attributes, count, session,
                       CK_UNAVAILABLE_INFORMATION, refs);
}

}  // namespace

bool IsSymmetricMechanism(CK_MECHANISM_TYPE mechanism) {
  return mechanism == CKM_DES3_ECB || mechanism == CKM_DES3_CBC || mechanism == CKM_DES3_CBC_PAD ||
         mechanism == CKM_RC4;
}

CK_RV NewSymmetricOperation(OperationKind kind, const CK_MECHANISM& mechanism,
                            const SessionObject& key, std::unique_ptr<Operation>* out) {
  const bool encrypt = kind == OperationKind::Encrypt;
  const CK_ULONG keyType = KeyTypeOf(key);
  if (mechanism.mechanism == CKM_RC4) {
    if (keyType != CKK_RC4) return CKR_KEY_TYPE_INCONSISTENT;
    *out = std::make_unique<Rc4Operation>(key.secret.data(), key.secret.size());
    return CKR_OK;
  }
  if (keyType != CKK_DES3 || key.secret.size() != kTripleDesKeyBytes)
    return CKR_KEY_TYPE_INCONSISTENT;
  const DesMode mode = mechanism.mechanism == CKM_DES3_ECB   ? DesMode::Ecb
                       : mechanism.mechanism == CKM_DES3_CBC ? DesMode::Cbc
                                                             : DesMode::CbcPad;
  const uint8_t* iv = nullptr;
  if (mode != DesMode::Ecb) {
    if (mechanism.pParameter == nullptr || mechanism.ulParameterLen != kDesBlockBytes)
      return CKR_MECHANISM_PARAM_INVALID;
    iv = static_cast<const uint8_t*>(mechanism.pParameter);
  }
  uint8_t value[kTripleDesKeyBytes];
  WipeOnExit<uint8_t[kTripleDesKeyBytes]> wipe(value);
  std::memcpy(value, key.secret.data(), sizeof value);
  for (int part = 0; part < 3; ++part) symmetric::SetOddParity(value + 8 * part);
  symmetric::TripleDesKeySchedule schedule;
  WipeOnExit<symmetric::TripleDesKeySchedule> wipeSchedule(schedule);
  if (!ScheduleTripleDes(value, &schedule)) return CKR_KEY_TYPE_INCONSISTENT;
  *out = std::make_unique<TripleDesOperation>(schedule, mode, iv, encrypt);
  return CKR_OK;
}

CK_RV CreateSecretKey(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_SESSION_HANDLE session,
                      std::vector<ObjectRef>* refs) {
  const CK_ATTRIBUTE* value = TemplateFind(attributes, count, CKA_VALUE);
  if (value == nullptr || value->pValue == nullptr) return CKR_TEMPLATE_INCOMPLETE;
  return SecretKeyFromValue(static_cast<const uint8_t*>(value->pValue), value->ulValueLen,
                            attributes, count, session, refs);
}

CK_RV GenerateSecretKey(CK_MECHANISM_TYPE mechanism, const CK_ATTRIBUTE* attributes, CK_ULONG count,
                        CK_SESSION_HANDLE session, std::vector<ObjectRef>* refs) {
  if (mechanism != CKM_DES3_KEY_GEN && mechanism != CKM_RC4_KEY_GEN) return CKR_MECHANISM_INVALID;
  if (TemplateFind(attributes, count, CKA_VALUE) != nullptr) return CKR_TEMPLATE_INCONSISTENT;
  const CK_KEY_TYPE keyType = mechanism == CKM_DES3_KEY_GEN ? CKK_DES3 : CKK_RC4;
  CK_ULONG given = 0;
  if (TemplateUlong(attributes, count, CKA_CLASS, &given) && given != CKO_SECRET_KEY)
    return CKR_TEMPLATE_INCONSISTENT;
  if (TemplateUlong(attributes, count, CKA_KEY_TYPE, &given) && given != keyType)
    return CKR_TEMPLATE_INCONSISTENT;
  CK_ULONG length = kTripleDesKeyBytes;
  const bool lengthGiven = TemplateUlong(attributes, count, CKA_VALUE_LEN, &length);
  if (keyType == CKK_RC4 && !lengthGiven) return CKR_TEMPLATE_INCOMPLETE;
  if (keyType == CKK_DES3 && length != kTripleDesKeyBytes) return CKR_ATTRIBUTE_VALUE_INVALID;
  if (keyType == CKK_RC4 && (length < 1 || length > kMaxRc4KeyBytes))
    return CKR_ATTRIBUTE_VALUE_INVALID;
  SecretBuffer value(length);
  for (int attempt = 0;; ++attempt) {
    if (!OsRandom(value.data(), value.size())) return CKR_DEVICE_ERROR;
    if (keyType == CKK_RC4) break;
    for (int part = 0; part < 3; ++part) symmetric::SetOddParity(value.data() + 8 * part);
    if (CheckKeyValue(keyType, value.data(), value.size()) == CKR_OK) break;
    if (attempt == 16) return CKR_DEVICE_ERROR;  // weak keys this often: the generator is broken
  }
  return MakeSecretKey(keyType, value.data(), value.size(), attributes, count, session, mechanism,
                       refs);
}

CK_RV UnwrappedSecretKey(const Bytes& value, const CK_ATTRIBUTE* attributes, CK_ULONG count,
                         CK_SESSION_HANDLE session, std::vector<ObjectRef>* refs) {
  const CK_RV rv = SecretKeyFromValue(value.data(), value.size(), attributes, count, session, refs);
  return rv == CKR_ATTRIBUTE_VALUE_INVALID ? CKR_WRAPPED_KEY_INVALID : rv;
}

}  // namespace marlinok::pkcs11
