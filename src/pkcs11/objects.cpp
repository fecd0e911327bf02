#include "pkcs11/objects.h"

#include <openssl/bn.h>
#include <openssl/x509.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/locks.h"
#include "core/wipe.h"
#include "pkcs11/digests.h"
#include "pkcs11/os_random.h"
#include "platform/registry.h"
#include "rsa/key_generation.h"
#include "rsa/key_record.h"
#include "store/containers.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"
#include "store/value_reader.h"
#include "token/stored_records.h"

namespace marlinok::pkcs11 {

using namespace marlinok::platform;

namespace {

const store::PairValueNames& Kind(bool exchange) {
  return exchange ? store::kExchangePair : store::kSignaturePair;
}

bool ValuePresent(const RegistryKey& key, const char* name) {
  uint32_t size = 0;
  return QueryValue(key, name, nullptr, nullptr, &size) == kErrorSuccess && size != 0;
}

// A big-endian field without its leading zeros.
Bytes Stripped(const uint8_t* field, std::size_t size) {
  std::size_t skip = 0;
  while (skip < size && field[skip] == 0) ++skip;
  return Bytes(field + skip, field + size);
}

// Right-aligns a big-endian number in a field; false when it does not fit.
bool PlaceNumber(const Bytes& number, uint8_t* field, std::size_t size) {
  const Bytes stripped = Stripped(number.data(), number.size());
  if (stripped.size() > size) return false;
  std::memset(field, 0, size);
  std::memcpy(field + size - stripped.size(), stripped.data(), stripped.size());
  return true;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string RandomName(const char* prefix) {
  uint8_t random[8] = {};
  (void)OsRandom(random, sizeof random);
  std::string name = prefix;
  char hex[3];
  for (uint8_t b : random) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    name += hex;
  }
  return name;
}

// Listings refuse names longer than this (the store's listing limit).
constexpr std::size_t kMaxContainerName = 49;

// A new container for a pair an application makes: named after the label
// when that is a free, valid name, else "pkcs11-<16 hex digits>".
// Whether a label may name the container: the token takes any name without a
// backslash, but its name lists are joined with '|', and a control character
// would reach whatever prints a list.
bool LabelNamesAContainer(const Bytes& label) {
  if (label.empty() || label.size() > kMaxContainerName) return false;
  return std::none_of(label.begin(), label.end(),
                      [](uint8_t c) { return c < 0x20 || c == 0x7f || c == '|' || c == '\\'; });
}

std::string NewContainer(const Bytes* label) {
  if (label != nullptr && LabelNamesAContainer(*label)) {
    const std::string name(label->begin(), label->end());
    if (store::CreateContainer(name.c_str()) == Status::Ok) return name;
  }
  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::string name = RandomName("pkcs11-");
    if (store::CreateContainer(name.c_str()) == Status::Ok) return name;
  }
  return std::string();
}

CK_RV CopyOut(CK_ATTRIBUTE& attribute, const Bytes& value) {
  if (attribute.pValue == nullptr) {
    attribute.ulValueLen = value.size();
    return CKR_OK;
  }
  if (attribute.ulValueLen < value.size()) {
    attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
    return CKR_BUFFER_TOO_SMALL;
  }
  if (!value.empty()) std::memcpy(attribute.pValue, value.data(), value.size());
  attribute.ulValueLen = value.size();
  return CKR_OK;
}

Bytes AttributeBytes(const CK_ATTRIBUTE& a) {
  if (a.pValue == nullptr || a.ulValueLen == 0) return {};
  const auto* p = static_cast<const uint8_t*>(a.pValue);
  return Bytes(p, p + a.ulValueLen);
}

// The pair's records and flags, read now.
struct PairState {
  rsa::PublicKeyRecord publicRecord{};
  bool exportable = false;
};

// A pair of the open container `key`: present when both records are there.
bool ReadPairFromKey(const RegistryKey& key, bool exchange, PairState* state) {
  const store::PairValueNames& kind = Kind(exchange);
  SecretBuffer record;  // a public record: nothing secret, but the reader's type
  if (store::ReadWholeValue(key, kind.publicRecord, &record) != kErrorSuccess ||
      record.size() < sizeof state->publicRecord.bytes || !ValuePresent(key, kind.privateRecord))
    return false;
  std::memcpy(state->publicRecord.bytes, record.data(), sizeof state->publicRecord.bytes);
  const uint32_t bits = rsa::ReadModulusBits(state->publicRecord.bytes);
  if (bits == 0 || bits > 8 * rsa::RSA_MODULUS_BYTES) return false;
  uint8_t flag[4] = {};
  uint32_t size = sizeof flag;
  state->exportable = QueryValue(key, kind.exportFlag, nullptr, flag, &size) == kErrorSuccess &&
                      size >= 1 && (flag[0] & 1) != 0;
  return true;
}

// The values a listing reads the bytes of: public records and export flags.
bool WantsPairValue(const std::string& name) {
  for (const store::PairValueNames* kind : {&store::kSignaturePair, &store::kExchangePair}) {
    if (strcasecmp(name.c_str(), kind->publicRecord) == 0 ||
        strcasecmp(name.c_str(), kind->exportFlag) == 0)
      return true;
  }
  return false;
}

const platform::TreeValue* FindTreeValue(const std::vector<platform::TreeValue>& values,
                                         const char* name) {
  for (const platform::TreeValue& value : values)
    if (strcasecmp(value.name.c_str(), name) == 0) return &value;
  return nullptr;
}

// A pair of a container read whole: present when both records are there.
bool PairFromValues(const std::vector<platform::TreeValue>& values, bool exchange,
                    PairState* state) {
  const store::PairValueNames& kind = Kind(exchange);
  const platform::TreeValue* record = FindTreeValue(values, kind.publicRecord);
  const platform::TreeValue* privateRecord = FindTreeValue(values, kind.privateRecord);
  if (record == nullptr || privateRecord == nullptr || privateRecord->size == 0 ||
      record->data.size() < sizeof state->publicRecord.bytes)
    return false;
  std::memcpy(state->publicRecord.bytes, record->data.data(), sizeof state->publicRecord.bytes);
  const uint32_t bits = rsa::ReadModulusBits(state->publicRecord.bytes);
  if (bits == 0 || bits > 8 * rsa::RSA_MODULUS_BYTES) return false;
  const platform::TreeValue* flag = FindTreeValue(values, kind.exportFlag);
  state->exportable = flag != nullptr && !flag->data.empty() && (flag->data[0] & 1) != 0;
  return true;
}

CK_RV ReadPair(const ObjectRef& ref, PairState* state) {
  if (!store::IsValidContainerName(ref.container.c_str())) return CKR_OBJECT_HANDLE_INVALID;
  RegistryKey key;
  if (OpenKey(store::ContainerPath(ref.container.c_str()).c_str(), key) != kErrorSuccess ||
      !ReadPairFromKey(key, ref.exchange, state))
    return CKR_OBJECT_HANDLE_INVALID;
  return CKR_OK;
}

Bytes ModulusOf(const rsa::PublicKeyRecord& record);

// What a pair's two objects are made of: its public record and export flag,
// and the attributes the module keeps for it.
struct PairData {
  PairState state;
  Bytes modulus;
  Bytes hash;  // SHA-1 of the modulus, the default CKA_ID
  AttributeList extras;
};

// Token objects as last read, valid while the registry's stamp is unchanged.
// One lock: a read of the hive that fills it is made once, whoever asks.
class TokenCache {
 public:
  std::mutex mutex;

  // Under `mutex`: forgets everything when the registry was written since.
  void Refresh() {
    platform::RegistryStamp now;
    const bool read = platform::ReadRegistryStamp(now);
    if (read && valid_ && now == stamp_) return;
    listed = false;
    stored.clear();
    pairs.clear();
    moduleObjects.clear();
    valid_ = read;
    stamp_ = now;
  }
  // Whether what is read now may be kept.
  bool Keeps() const { return valid_; }

  bool listed = false;
  std::vector<ObjectRef> stored;
  std::map<std::string, std::shared_ptr<const PairData>> pairs;
  std::map<std::string, AttributeList> moduleObjects;

 private:
  bool valid_ = false;
  platform::RegistryStamp stamp_;
};

TokenCache& Cache() {
  static TokenCache* cache = new TokenCache();  // never destroyed: calls may race the exit
  return *cache;
}

std::string PairKey(const ObjectRef& ref) {
  return std::string(ref.exchange ? "x" : "s") + ref.container;
}

// What follows from the records: the modulus, its hash, the module's attributes.
void CompletePairData(const ObjectRef& ref, PairData* data) {
  data->modulus = ModulusOf(data->state.publicRecord);
  data->hash = Digest(CKM_SHA_1, data->modulus.data(), data->modulus.size());
  data->extras = ReadPairAttributes(ref.container, ref.exchange, data->hash);
}

// Under the cache's lock.
CK_RV LoadPairData(TokenCache& cache, const ObjectRef& ref, std::shared_ptr<const PairData>* out) {
  const std::string key = PairKey(ref);
  auto found = cache.pairs.find(key);
  if (found != cache.pairs.end()) {
    *out = found->second;
    return CKR_OK;
  }
  auto data = std::make_shared<PairData>();
  if (const CK_RV rv = ReadPair(ref, &data->state); rv != CKR_OK) return rv;
  CompletePairData(ref, data.get());
  if (cache.Keeps()) cache.pairs.emplace(key, data);
  *out = std::move(data);
  return CKR_OK;
}

Bytes ModulusOf(const rsa::PublicKeyRecord& record) {
  return Stripped(record.bytes + rsa::kModulusOffset, rsa::RSA_MODULUS_BYTES);
}

CK_RV LoadPairObject(const ObjectRef& ref, bool refresh, LoadedObject* out) {
  std::shared_ptr<const PairData> data;
  {
    TokenCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (refresh) cache.Refresh();
    if (const CK_RV rv = LoadPairData(cache, ref, &data); rv != CKR_OK) return rv;
  }
  const PairState& pair = data->state;
  const bool isPrivate = ref.kind == ObjectKind::PrivateKey;
  const Bytes& modulus = data->modulus;
  const Bytes& hash = data->hash;
  const AttributeList& extras = data->extras;
  const Bytes* id = FindAttribute(extras, CKA_ID);
  const Bytes* label = FindAttribute(extras, CKA_LABEL);
  const Bytes* subject = FindAttribute(extras, CKA_SUBJECT);
  const Bytes* local = FindAttribute(extras, CKA_LOCAL);
  const bool isLocal = local != nullptr && local->size() == 1 && (*local)[0] != 0;
  out->publicRecord = pair.publicRecord;

  AttributeList& a = out->attributes;
  a.clear();
  out->objectClass = isPrivate ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
  out->isPrivate = isPrivate;
  out->isToken = true;
  out->modulusBits = rsa::ReadModulusBits(pair.publicRecord.bytes);
  a.push_back({CKA_CLASS, UlongBytes(out->objectClass)});
  a.push_back({CKA_TOKEN, BoolBytes(true)});
  a.push_back({CKA_PRIVATE, BoolBytes(isPrivate)});
  a.push_back({CKA_MODIFIABLE, BoolBytes(true)});
  a.push_back({CKA_COPYABLE, BoolBytes(false)});
  a.push_back({CKA_DESTROYABLE, BoolBytes(true)});
  a.push_back({CKA_LABEL, label != nullptr ? *label : TextBytes(ref.container)});
  a.push_back({CKA_ID, id != nullptr ? *id : hash});
  a.push_back({CKA_KEY_TYPE, UlongBytes(CKK_RSA)});
  a.push_back({CKA_SUBJECT, subject != nullptr ? *subject : Bytes()});
  a.push_back({CKA_START_DATE, Bytes()});
  a.push_back({CKA_END_DATE, Bytes()});
  a.push_back({CKA_DERIVE, BoolBytes(false)});
  a.push_back({CKA_LOCAL, BoolBytes(isLocal)});
  a.push_back({CKA_KEY_GEN_MECHANISM,
               UlongBytes(isLocal ? CKM_RSA_PKCS_KEY_PAIR_GEN : CK_UNAVAILABLE_INFORMATION)});
  a.push_back({CKA_MODULUS, modulus});
  a.push_back({CKA_MODULUS_BITS, UlongBytes(out->modulusBits)});
  a.push_back({CKA_PUBLIC_EXPONENT, Stripped(pair.publicRecord.bytes + rsa::kPublicExponentOffset,
                                             rsa::RSA_MODULUS_BYTES)});
  if (isPrivate) {
    a.push_back({CKA_SENSITIVE, BoolBytes(true)});
    // Only a key made on the token was sensitive and unextractable all along.
    a.push_back({CKA_ALWAYS_SENSITIVE, BoolBytes(isLocal)});
    a.push_back({CKA_EXTRACTABLE, BoolBytes(pair.exportable)});
    a.push_back({CKA_NEVER_EXTRACTABLE, BoolBytes(isLocal && !pair.exportable)});
    a.push_back({CKA_SIGN, BoolBytes(true)});
    a.push_back({CKA_SIGN_RECOVER, BoolBytes(false)});
    a.push_back({CKA_DECRYPT, BoolBytes(ref.exchange)});
    a.push_back({CKA_UNWRAP, BoolBytes(ref.exchange)});
    a.push_back({CKA_WRAP_WITH_TRUSTED, BoolBytes(false)});
    a.push_back({CKA_ALWAYS_AUTHENTICATE, BoolBytes(false)});
    out->sensitive = {CKA_PRIVATE_EXPONENT, CKA_PRIME_1,    CKA_PRIME_2,
                      CKA_EXPONENT_1,       CKA_EXPONENT_2, CKA_COEFFICIENT};
  } else {
    a.push_back({CKA_VERIFY, BoolBytes(true)});
    a.push_back({CKA_VERIFY_RECOVER, BoolBytes(false)});
    a.push_back({CKA_ENCRYPT, BoolBytes(ref.exchange)});
    a.push_back({CKA_WRAP, BoolBytes(ref.exchange)});
    a.push_back({CKA_TRUSTED, BoolBytes(false)});
    out->sensitive.clear();
  }
  return CKR_OK;
}

bool ListBool(const AttributeList& list, CK_ATTRIBUTE_TYPE type) {
  const Bytes* value = FindAttribute(list, type);
  return value != nullptr && value->size() == 1 && (*value)[0] != 0;
}

CK_ULONG ListUlong(const AttributeList& list, CK_ATTRIBUTE_TYPE type, CK_ULONG fallback) {
  const Bytes* value = FindAttribute(list, type);
  if (value == nullptr || value->size() != sizeof(CK_ULONG)) return fallback;
  CK_ULONG v;
  std::memcpy(&v, value->data(), sizeof v);
  return v;
}

void FillLoaded(const AttributeList& list, bool token, LoadedObject* out) {
  out->attributes = list;
  out->sensitive.clear();
  out->isToken = token;
  out->isPrivate = ListBool(list, CKA_PRIVATE);
  out->objectClass = ListUlong(list, CKA_CLASS, CKO_DATA);
  out->modulusBits = 0;
}

// Which attributes an application may give when making each class, with the
// defaults the module fills in.
struct TemplateRule {
  CK_ATTRIBUTE_TYPE type;
  enum { Any, Bool, Ulong } shape;
};

const TemplateRule kCommonRules[] = {
    {CKA_CLASS, TemplateRule::Ulong},     {CKA_TOKEN, TemplateRule::Bool},
    {CKA_PRIVATE, TemplateRule::Bool},    {CKA_MODIFIABLE, TemplateRule::Bool},
    {CKA_LABEL, TemplateRule::Any},       {CKA_COPYABLE, TemplateRule::Bool},
    {CKA_DESTROYABLE, TemplateRule::Bool}};
const TemplateRule kCertificateRules[] = {{CKA_CERTIFICATE_TYPE, TemplateRule::Ulong},
                                          {CKA_TRUSTED, TemplateRule::Bool},
                                          {CKA_CERTIFICATE_CATEGORY, TemplateRule::Ulong},
                                          {CKA_CHECK_VALUE, TemplateRule::Any},
                                          {CKA_START_DATE, TemplateRule::Any},
                                          {CKA_END_DATE, TemplateRule::Any},
                                          {CKA_SUBJECT, TemplateRule::Any},
                                          {CKA_ID, TemplateRule::Any},
                                          {CKA_ISSUER, TemplateRule::Any},
                                          {CKA_SERIAL_NUMBER, TemplateRule::Any},
                                          {CKA_VALUE, TemplateRule::Any},
                                          {CKA_URL, TemplateRule::Any},
                                          {CKA_HASH_OF_SUBJECT_PUBLIC_KEY, TemplateRule::Any},
                                          {CKA_HASH_OF_ISSUER_PUBLIC_KEY, TemplateRule::Any},
                                          {CKA_JAVA_MIDP_SECURITY_DOMAIN, TemplateRule::Ulong}};
const TemplateRule kDataRules[] = {{CKA_APPLICATION, TemplateRule::Any},
                                   {CKA_OBJECT_ID, TemplateRule::Any},
                                   {CKA_VALUE, TemplateRule::Any}};

template <std::size_t N>
const TemplateRule* FindRule(const TemplateRule (&rules)[N], CK_ATTRIBUTE_TYPE type) {
  for (const TemplateRule& r : rules)
    if (r.type == type) return &r;
  return nullptr;
}

// Copies a template into a list under the rules of its class.
template <std::size_t N>
CK_RV TakeTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count,
                   const TemplateRule (&classRules)[N], AttributeList* list) {
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE& a = attributes[i];
    const TemplateRule vendor{a.type, TemplateRule::Any};
    const TemplateRule* rule = FindRule(kCommonRules, a.type);
    if (rule == nullptr) rule = FindRule(classRules, a.type);
    // An application's own attributes (CKA_VENDOR_DEFINED and above) are kept as given.
    if (rule == nullptr && a.type >= CKA_VENDOR_DEFINED) rule = &vendor;
    if (rule == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (a.pValue == nullptr && a.ulValueLen != 0) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (rule->shape == TemplateRule::Bool && a.ulValueLen != sizeof(CK_BBOOL))
      return CKR_ATTRIBUTE_VALUE_INVALID;
    if (rule->shape == TemplateRule::Ulong && a.ulValueLen != sizeof(CK_ULONG))
      return CKR_ATTRIBUTE_VALUE_INVALID;
    Bytes value = AttributeBytes(a);
    if (rule->shape == TemplateRule::Bool) value = BoolBytes(value[0] != 0);
    PutAttribute(*list, a.type, std::move(value));
  }
  return CKR_OK;
}

void Default(AttributeList& list, CK_ATTRIBUTE_TYPE type, Bytes value) {
  if (FindAttribute(list, type) == nullptr) list.push_back({type, std::move(value)});
}

Bytes DerOf(int (*encode)(const void*, unsigned char**), const void* item) {
  const int size = encode(item, nullptr);
  if (size <= 0) return {};
  Bytes out(static_cast<std::size_t>(size));
  unsigned char* p = out.data();
  encode(item, &p);
  return out;
}

int EncodeName(const void* name, unsigned char** out) {
  return i2d_X509_NAME(static_cast<X509_NAME*>(const_cast<void*>(name)), out);
}
int EncodeInteger(const void* integer, unsigned char** out) {
  return i2d_ASN1_INTEGER(static_cast<ASN1_INTEGER*>(const_cast<void*>(integer)), out);
}

CK_RV CertificateDefaults(AttributeList& list) {
  if (ListUlong(list, CKA_CERTIFICATE_TYPE, CKC_X_509) != CKC_X_509)
    return CKR_ATTRIBUTE_VALUE_INVALID;
  const Bytes* value = FindAttribute(list, CKA_VALUE);
  if (value == nullptr || value->empty()) return CKR_TEMPLATE_INCOMPLETE;
  const unsigned char* p = value->data();
  X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(value->size()));
  if (certificate == nullptr) return CKR_ATTRIBUTE_VALUE_INVALID;
  Default(list, CKA_SUBJECT, DerOf(EncodeName, X509_get_subject_name(certificate)));
  Default(list, CKA_ISSUER, DerOf(EncodeName, X509_get_issuer_name(certificate)));
  Default(list, CKA_SERIAL_NUMBER, DerOf(EncodeInteger, X509_get_serialNumber(certificate)));
  X509_free(certificate);
  Default(list, CKA_CERTIFICATE_TYPE, UlongBytes(CKC_X_509));
  Default(list, CKA_TRUSTED, BoolBytes(false));
  Default(list, CKA_CERTIFICATE_CATEGORY, UlongBytes(0));
  Default(list, CKA_ID, Bytes());
  Default(list, CKA_START_DATE, Bytes());
  Default(list, CKA_END_DATE, Bytes());
  Default(list, CKA_URL, Bytes());
  Default(list, CKA_HASH_OF_SUBJECT_PUBLIC_KEY, Bytes());
  Default(list, CKA_HASH_OF_ISSUER_PUBLIC_KEY, Bytes());
  Default(list, CKA_JAVA_MIDP_SECURITY_DOMAIN, UlongBytes(0));
  return CKR_OK;
}

void CommonDefaults(AttributeList& list) {
  Default(list, CKA_TOKEN, BoolBytes(false));
  Default(list, CKA_PRIVATE, BoolBytes(false));
  Default(list, CKA_MODIFIABLE, BoolBytes(true));
  Default(list, CKA_COPYABLE, BoolBytes(false));
  Default(list, CKA_DESTROYABLE, BoolBytes(true));
  Default(list, CKA_LABEL, Bytes());
}

// The numbers of an RSA private key template as a private record.
CK_RV PrivateRecordFromTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count,
                                rsa::PrivateKeyRecord* record) {
  struct Field {
    CK_ATTRIBUTE_TYPE type;
    std::size_t offset, size;
  };
  const Field fields[] = {
      {CKA_MODULUS, rsa::kModulusOffset, rsa::RSA_MODULUS_BYTES},
      {CKA_PUBLIC_EXPONENT, rsa::kPublicExponentOffset, rsa::RSA_MODULUS_BYTES},
      {CKA_PRIVATE_EXPONENT, rsa::kPrivateExponentOffset, rsa::RSA_MODULUS_BYTES},
      {CKA_PRIME_1, rsa::kPrime1Offset, rsa::RSA_PRIME_BYTES},
      {CKA_PRIME_2, rsa::kPrime2Offset, rsa::RSA_PRIME_BYTES},
      {CKA_EXPONENT_1, rsa::kExponent1Offset, rsa::RSA_PRIME_BYTES},
      {CKA_EXPONENT_2, rsa::kExponent2Offset, rsa::RSA_PRIME_BYTES},
      {CKA_COEFFICIENT, rsa::kCoefficientOffset, rsa::RSA_PRIME_BYTES}};
  std::memset(record->bytes, 0, sizeof record->bytes);
  for (const Field& f : fields) {
    const CK_ATTRIBUTE* a = TemplateFind(attributes, count, f.type);
    if (a == nullptr) return CKR_TEMPLATE_INCOMPLETE;
    Bytes value = AttributeBytes(*a);
    const bool placed = PlaceNumber(value, record->bytes + f.offset, f.size);
    SecureWipe(value.data(), value.size());
    if (!placed) return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  // n's length in bits, and n = p * q.
  const Bytes modulus = Stripped(record->bytes + rsa::kModulusOffset, rsa::RSA_MODULUS_BYTES);
  if (modulus.empty()) return CKR_ATTRIBUTE_VALUE_INVALID;
  uint32_t bits = static_cast<uint32_t>(8 * modulus.size());
  for (uint8_t top = modulus[0]; (top & 0x80) == 0; top <<= 1) --bits;
  if (bits < rsa::RSA_MIN_MODULUS_BITS || bits > rsa::RSA_MAX_MODULUS_BITS)
    return CKR_ATTRIBUTE_VALUE_INVALID;
  rsa::WriteModulusBits(record->bytes, bits);
  BIGNUM* p = BN_bin2bn(record->bytes + rsa::kPrime1Offset, rsa::RSA_PRIME_BYTES, nullptr);
  BIGNUM* q = BN_bin2bn(record->bytes + rsa::kPrime2Offset, rsa::RSA_PRIME_BYTES, nullptr);
  BIGNUM* n = BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr);
  BIGNUM* product = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  const bool consistent = p != nullptr && q != nullptr && n != nullptr && product != nullptr &&
                          ctx != nullptr && BN_mul(product, p, q, ctx) == 1 &&
                          BN_cmp(product, n) == 0;
  BN_clear_free(p);
  BN_clear_free(q);
  BN_free(n);
  BN_clear_free(product);
  BN_CTX_free(ctx);
  return consistent ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

// The pair kind an application asks for: the signature pair when the
// private key may neither decrypt nor unwrap, else the exchange pair.
bool WantsExchangePair(const CK_ATTRIBUTE* privateTemplate, CK_ULONG count) {
  bool decrypt = true, unwrap = false;
  const bool decryptGiven = TemplateBool(privateTemplate, count, CKA_DECRYPT, &decrypt);
  TemplateBool(privateTemplate, count, CKA_UNWRAP, &unwrap);
  return !decryptGiven || decrypt || unwrap;
}

// Stores a pair for an application, with its CKA_ID, CKA_LABEL, CKA_SUBJECT.
CK_RV StorePairForApplication(rsa::PublicKeyRecord& publicRecord,
                              rsa::PrivateKeyRecord& privateRecord, bool exchange, bool exportable,
                              bool local, const CK_ATTRIBUTE* first, CK_ULONG firstCount,
                              const CK_ATTRIBUTE* second, CK_ULONG secondCount,
                              std::vector<ObjectRef>* refs) {
  auto pick = [&](CK_ATTRIBUTE_TYPE type) -> const CK_ATTRIBUTE* {
    const CK_ATTRIBUTE* a = TemplateFind(first, firstCount, type);
    return a != nullptr ? a : TemplateFind(second, secondCount, type);
  };
  AttributeList extras;
  for (CK_ATTRIBUTE_TYPE type : {CKA_ID, CKA_LABEL, CKA_SUBJECT})
    if (const CK_ATTRIBUTE* a = pick(type)) extras.push_back({type, AttributeBytes(*a)});
  extras.push_back({CKA_LOCAL, BoolBytes(local)});

  const std::string container = NewContainer(FindAttribute(extras, CKA_LABEL));
  if (container.empty()) return CKR_DEVICE_ERROR;
  const DataBlob publicBlob{sizeof publicRecord.bytes, publicRecord.bytes};
  const DataBlob privateBlob{sizeof privateRecord.bytes, privateRecord.bytes};
  DataBlob publicRef{0, nullptr}, privateRef{0, nullptr};
  const uint32_t pairType = exchange ? store::kExchangePairBit : store::kSignaturePairBit;
  if (store::StoreKeyPair(container.c_str(), pairType, exportable ? 1 : 0, &publicBlob,
                          &privateBlob, &publicRef, &privateRef) != Status::Ok) {
    (void)store::DestroyContainer(container.c_str());
    return CKR_DEVICE_ERROR;
  }
  const Bytes modulus = ModulusOf(publicRecord);
  (void)WritePairAttributes(container, exchange, Digest(CKM_SHA_1, modulus.data(), modulus.size()),
                            extras);
  ObjectRef ref;
  ref.container = container;
  ref.exchange = exchange;
  ref.kind = ObjectKind::PrivateKey;
  refs->push_back(ref);
  ref.kind = ObjectKind::PublicKey;
  refs->push_back(ref);
  return CKR_OK;
}

CK_RV CreateRsaPrivateKey(const CK_ATTRIBUTE* attributes, CK_ULONG count,
                          std::vector<ObjectRef>* refs) {
  bool token = false;
  if (!TemplateBool(attributes, count, CKA_TOKEN, &token) || !token)
    return CKR_TEMPLATE_INCONSISTENT;  // keys live in containers: token objects only
  rsa::PrivateKeyRecord privateRecord;
  WipeOnExit<rsa::PrivateKeyRecord> wipe(privateRecord);
  if (const CK_RV rv = PrivateRecordFromTemplate(attributes, count, &privateRecord); rv != CKR_OK)
    return rv;
  rsa::PublicKeyRecord publicRecord;
  std::memcpy(publicRecord.bytes, privateRecord.bytes, sizeof publicRecord.bytes);
  bool exportable = false;
  TemplateBool(attributes, count, CKA_EXTRACTABLE, &exportable);
  return StorePairForApplication(publicRecord, privateRecord, WantsExchangePair(attributes, count),
                                 exportable, false, attributes, count, nullptr, 0, refs);
}

}  // namespace

std::string ObjectRef::Key() const {
  switch (kind) {
    case ObjectKind::PrivateKey:
    case ObjectKind::PublicKey:
      return std::string(kind == ObjectKind::PrivateKey ? "v" : "u") + (exchange ? "x" : "s") +
             container;
    case ObjectKind::ModuleObject:
      return "o" + name;
    case ObjectKind::SessionObject:
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "m%p", static_cast<const void*>(session.get()));
      return text;
    }
  }
}

CK_OBJECT_HANDLE ObjectTable::HandleFor(const ObjectRef& ref) {
  const std::string key = ref.Key();
  auto found = handles_.find(key);
  if (found != handles_.end()) return found->second;
  const CK_OBJECT_HANDLE handle = next_++;
  handles_.emplace(key, handle);
  objects_.emplace(handle, ref);
  return handle;
}

bool ObjectTable::Lookup(CK_OBJECT_HANDLE handle, ObjectRef* ref) const {
  auto found = objects_.find(handle);
  if (found == objects_.end()) return false;
  *ref = found->second;
  return true;
}

void ObjectTable::Forget(CK_OBJECT_HANDLE handle) {
  auto found = objects_.find(handle);
  if (found == objects_.end()) return;
  handles_.erase(found->second.Key());
  objects_.erase(found);
}

void ObjectTable::ForgetSessionObjects(CK_SESSION_HANDLE session) {
  for (auto it = objects_.begin(); it != objects_.end();) {
    if (it->second.kind == ObjectKind::SessionObject &&
        (session == 0 || it->second.session->owner == session)) {
      handles_.erase(it->second.Key());
      it = objects_.erase(it);
    } else {
      ++it;
    }
  }
}

std::vector<ObjectRef> ObjectTable::SessionObjects() const {
  std::vector<ObjectRef> refs;
  for (const auto& entry : objects_)
    if (entry.second.kind == ObjectKind::SessionObject) refs.push_back(entry.second);
  return refs;
}

void ObjectTable::Clear() {
  objects_.clear();
  handles_.clear();
}

std::vector<ObjectRef> ListStoredObjects() {
  TokenCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.Refresh();
  if (cache.listed) return cache.stored;
  // Three reads of the registry, whatever the number of objects: the
  // containers with their values, the pairs' attributes, the module's objects.
  std::vector<ObjectRef> refs;
  std::vector<platform::TreeKey> containers;
  if (platform::ReadKeyTree(store::kContainerRoot, 1, WantsPairValue, containers) ==
      kErrorSuccess) {
    const StoredPairAttributes extras = ReadAllPairAttributes();
    for (const platform::TreeKey& container : containers) {
      if (container.path.empty() || !store::IsValidContainerName(container.path.c_str()))
        continue;  // the root itself
      for (bool exchange : {false, true}) {
        auto data = std::make_shared<PairData>();
        if (!PairFromValues(container.values, exchange, &data->state)) continue;
        ObjectRef ref;
        ref.container = container.path;
        ref.exchange = exchange;
        data->modulus = ModulusOf(data->state.publicRecord);
        data->hash = Digest(CKM_SHA_1, data->modulus.data(), data->modulus.size());
        data->extras = PairAttributesFrom(extras, ref.container, exchange, data->hash);
        if (cache.Keeps()) cache.pairs[PairKey(ref)] = std::move(data);
        ref.kind = ObjectKind::PrivateKey;
        refs.push_back(ref);
        ref.kind = ObjectKind::PublicKey;
        refs.push_back(ref);
      }
    }
  }
  for (auto& [name, list] : ReadAllModuleObjects()) {
    ObjectRef ref;
    ref.kind = ObjectKind::ModuleObject;
    ref.name = name;
    refs.push_back(ref);
    if (cache.Keeps()) cache.moduleObjects[name] = std::move(list);
  }
  if (cache.Keeps()) {
    cache.stored = refs;
    cache.listed = true;
  }
  return refs;
}

CK_RV LoadObject(const ObjectRef& ref, bool loggedIn, LoadedObject* out, bool refresh) {
  CK_RV rv = CKR_OK;
  switch (ref.kind) {
    case ObjectKind::PrivateKey:
    case ObjectKind::PublicKey:
      if (ref.kind == ObjectKind::PrivateKey && !loggedIn) return CKR_OBJECT_HANDLE_INVALID;
      rv = LoadPairObject(ref, refresh, out);
      break;
    case ObjectKind::ModuleObject: {
      TokenCache& cache = Cache();
      std::lock_guard<std::mutex> lock(cache.mutex);
      if (refresh) cache.Refresh();
      auto found = cache.moduleObjects.find(ref.name);
      if (found == cache.moduleObjects.end()) {
        AttributeList list;
        if (!ReadTokenObject(ref.name, &list)) return CKR_OBJECT_HANDLE_INVALID;
        if (!cache.Keeps()) {
          FillLoaded(list, true, out);
          break;
        }
        found = cache.moduleObjects.emplace(ref.name, std::move(list)).first;
      }
      FillLoaded(found->second, true, out);
      break;
    }
    case ObjectKind::SessionObject: {
      {
        std::lock_guard<std::mutex> lock(ref.session->mutex);
        FillLoaded(ref.session->attributes, false, out);
      }
      if (out->objectClass == CKO_SECRET_KEY) {
        if (ListBool(out->attributes, CKA_SENSITIVE) ||
            !ListBool(out->attributes, CKA_EXTRACTABLE)) {
          out->sensitive.push_back(CKA_VALUE);
        } else {
          const SecretBuffer& secret = ref.session->secret;
          PutAttribute(out->attributes, CKA_VALUE,
                       Bytes(secret.data(), secret.data() + secret.size()));
        }
      }
      break;
    }
  }
  if (rv == CKR_OK && out->isPrivate && !loggedIn) return CKR_OBJECT_HANDLE_INVALID;
  return rv;
}

CK_RV GetAttributes(const LoadedObject& object, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  CK_RV result = CKR_OK;
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_ATTRIBUTE& a = attributes[i];
    CK_RV rv;
    if (std::find(object.sensitive.begin(), object.sensitive.end(), a.type) !=
        object.sensitive.end()) {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      rv = CKR_ATTRIBUTE_SENSITIVE;
    } else if (const Bytes* value = FindAttribute(object.attributes, a.type)) {
      rv = CopyOut(a, *value);
    } else {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      rv = CKR_ATTRIBUTE_TYPE_INVALID;
    }
    if (rv != CKR_OK) result = rv;
  }
  return result;
}

bool Matches(const LoadedObject& object, const CK_ATTRIBUTE* attributes, CK_ULONG count) {
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE& a = attributes[i];
    const Bytes* value = FindAttribute(object.attributes, a.type);
    if (value == nullptr || value->size() != a.ulValueLen) return false;
    if (a.ulValueLen != 0 &&
        (a.pValue == nullptr || std::memcmp(value->data(), a.pValue, a.ulValueLen) != 0))
      return false;
  }
  return true;
}

std::string RecordReference(const ObjectRef& pair, bool privateRecord) {
  const store::PairValueNames& kind = Kind(pair.exchange);
  return store::ContainerPath(pair.container.c_str()) + "\\" +
         (privateRecord ? kind.privateRecord : kind.publicRecord);
}

CK_RV CreateObject(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_SESSION_HANDLE session,
                   bool loggedIn, std::vector<ObjectRef>* refs) {
  CK_ULONG objectClass = 0;
  if (!TemplateUlong(attributes, count, CKA_CLASS, &objectClass)) return CKR_TEMPLATE_INCOMPLETE;
  bool isPrivate = false;
  TemplateBool(attributes, count, CKA_PRIVATE, &isPrivate);
  if ((isPrivate || objectClass == CKO_PRIVATE_KEY) && !loggedIn) return CKR_USER_NOT_LOGGED_IN;

  if (objectClass == CKO_PRIVATE_KEY) {
    CK_ULONG keyType = 0;
    if (!TemplateUlong(attributes, count, CKA_KEY_TYPE, &keyType)) return CKR_TEMPLATE_INCOMPLETE;
    if (keyType != CKK_RSA) return CKR_ATTRIBUTE_VALUE_INVALID;
    return CreateRsaPrivateKey(attributes, count, refs);
  }

  AttributeList list;
  CK_RV rv;
  if (objectClass == CKO_CERTIFICATE) {
    rv = TakeTemplate(attributes, count, kCertificateRules, &list);
    if (rv == CKR_OK) rv = CertificateDefaults(list);
  } else if (objectClass == CKO_DATA) {
    rv = TakeTemplate(attributes, count, kDataRules, &list);
    Default(list, CKA_APPLICATION, Bytes());
    Default(list, CKA_OBJECT_ID, Bytes());
    Default(list, CKA_VALUE, Bytes());
  } else {
    return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  if (rv != CKR_OK) return rv;
  CommonDefaults(list);

  ObjectRef ref;
  if (ListBool(list, CKA_TOKEN)) {
    ref.kind = ObjectKind::ModuleObject;
    ref.name = RandomName("");
    if (!WriteTokenObject(ref.name, list)) return CKR_DEVICE_ERROR;
  } else {
    ref.kind = ObjectKind::SessionObject;
    ref.session = std::make_shared<SessionObject>();
    ref.session->owner = session;
    ref.session->attributes = std::move(list);
  }
  refs->push_back(ref);
  return CKR_OK;
}

CK_RV GeneratePair(const CK_ATTRIBUTE* publicTemplate, CK_ULONG publicCount,
                   const CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount,
                   std::vector<ObjectRef>* refs) {
  CK_ULONG bits = 0;
  if (!TemplateUlong(publicTemplate, publicCount, CKA_MODULUS_BITS, &bits))
    return CKR_TEMPLATE_INCOMPLETE;
  if (bits < rsa::RSA_MIN_MODULUS_BITS || bits > rsa::RSA_MAX_MODULUS_BITS)
    return CKR_KEY_SIZE_RANGE;
  if (const CK_ATTRIBUTE* e = TemplateFind(publicTemplate, publicCount, CKA_PUBLIC_EXPONENT)) {
    const Bytes exponent =
        Stripped(static_cast<const uint8_t*>(e->pValue), e->pValue == nullptr ? 0 : e->ulValueLen);
    if (exponent != Bytes{0x01, 0x00, 0x01}) return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  for (const auto& [attrs, n] :
       {std::pair{publicTemplate, publicCount}, std::pair{privateTemplate, privateCount}}) {
    bool token = true;
    if (TemplateBool(attrs, n, CKA_TOKEN, &token) && !token) return CKR_TEMPLATE_INCONSISTENT;
  }
  rsa::PublicKeyRecord publicRecord{};
  rsa::PrivateKeyRecord privateRecord{};
  WipeOnExit<rsa::PrivateKeyRecord> wipeRecord(privateRecord);
  {
    RandomPool pool{};
    WipeOnExit<RandomPool> wipePool(pool);
    if (!SeedPoolFromOs(&pool)) return CKR_DEVICE_ERROR;
    const rsa::KeyPairParams params{static_cast<uint32_t>(bits), 1};
    if (rsa::GenerateRsaKeyPair(&publicRecord, &privateRecord, &params, &pool) != Status::Ok)
      return CKR_FUNCTION_FAILED;
  }
  bool exportable = false;
  TemplateBool(privateTemplate, privateCount, CKA_EXTRACTABLE, &exportable);
  return StorePairForApplication(publicRecord, privateRecord,
                                 WantsExchangePair(privateTemplate, privateCount), exportable, true,
                                 privateTemplate, privateCount, publicTemplate, publicCount, refs);
}

CK_RV DestroyTokenObject(const ObjectRef& ref) {
  if (ref.kind == ObjectKind::ModuleObject)
    return DeleteTokenObject(ref.name) ? CKR_OK : CKR_OBJECT_HANDLE_INVALID;
  const store::PairValueNames& kind = Kind(ref.exchange);
  const std::string path = store::ContainerPath(ref.container.c_str());
  {
    ScopedLibraryLock lock(LibraryLock::ContainerStore);
    bool empty = false;
    {
      RegistryKey key;
      if (OpenKey(path.c_str(), key) != kErrorSuccess) return CKR_OBJECT_HANDLE_INVALID;
      if (!ValuePresent(key, kind.privateRecord)) return CKR_OBJECT_HANDLE_INVALID;
      for (const char* value :
           {kind.privateRecord, kind.publicRecord, kind.property, kind.exportFlag})
        (void)DeleteValue(key, value);
      std::string first;
      std::vector<std::string> subkeys;
      empty = EnumValueName(key, 0, first) == kErrorNoMoreItems &&
              EnumSubkeyNames(key, subkeys) == kErrorSuccess && subkeys.empty();
    }
    // A container left with nothing in it goes too.
    if (empty) (void)DeleteKey(path.c_str());
  }
  RemovePairAttributes(ref.container, ref.exchange);
  return CKR_OK;
}

CK_RV SetAttributes(const ObjectRef& ref, const CK_ATTRIBUTE* attributes, CK_ULONG count) {
  for (CK_ULONG i = 0; i < count; ++i)
    if (attributes[i].pValue == nullptr && attributes[i].ulValueLen != 0)
      return CKR_ATTRIBUTE_VALUE_INVALID;
  CK_ULONG sessionClass = CKO_DATA;
  if (ref.kind == ObjectKind::SessionObject) {
    std::lock_guard<std::mutex> lock(ref.session->mutex);
    sessionClass = ListUlong(ref.session->attributes, CKA_CLASS, CKO_DATA);
  }
  const bool isKey = ref.kind == ObjectKind::PrivateKey || ref.kind == ObjectKind::PublicKey ||
                     (ref.kind == ObjectKind::SessionObject && sessionClass != CKO_CERTIFICATE &&
                      sessionClass != CKO_DATA);
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE_TYPE type = attributes[i].type;
    const bool changeable = type == CKA_ID || type == CKA_LABEL || type == CKA_SUBJECT ||
                            (!isKey && (type == CKA_VALUE || type == CKA_APPLICATION));
    if (!changeable) return CKR_ATTRIBUTE_READ_ONLY;
  }
  if (ref.kind == ObjectKind::PrivateKey || ref.kind == ObjectKind::PublicKey) {
    PairState pair;
    if (const CK_RV rv = ReadPair(ref, &pair); rv != CKR_OK) return rv;
    const Bytes modulus = ModulusOf(pair.publicRecord);
    const Bytes hash = Digest(CKM_SHA_1, modulus.data(), modulus.size());
    AttributeList extras = ReadPairAttributes(ref.container, ref.exchange, hash);
    for (CK_ULONG i = 0; i < count; ++i)
      PutAttribute(extras, attributes[i].type, AttributeBytes(attributes[i]));
    return WritePairAttributes(ref.container, ref.exchange, hash, extras) ? CKR_OK
                                                                          : CKR_DEVICE_ERROR;
  }
  AttributeList list;
  if (ref.kind == ObjectKind::ModuleObject) {
    if (!ReadTokenObject(ref.name, &list)) return CKR_OBJECT_HANDLE_INVALID;
  } else {
    std::lock_guard<std::mutex> lock(ref.session->mutex);
    list = ref.session->attributes;
  }
  if (FindAttribute(list, CKA_MODIFIABLE) != nullptr && !ListBool(list, CKA_MODIFIABLE))
    return CKR_ATTRIBUTE_READ_ONLY;
  for (CK_ULONG i = 0; i < count; ++i)
    PutAttribute(list, attributes[i].type, AttributeBytes(attributes[i]));
  if (ref.kind == ObjectKind::ModuleObject)
    return WriteTokenObject(ref.name, list) ? CKR_OK : CKR_DEVICE_ERROR;
  std::lock_guard<std::mutex> lock(ref.session->mutex);
  ref.session->attributes = std::move(list);
  return CKR_OK;
}

Bytes UlongBytes(CK_ULONG value) {
  Bytes out(sizeof value);
  std::memcpy(out.data(), &value, sizeof value);
  return out;
}

Bytes BoolBytes(bool value) { return Bytes{static_cast<uint8_t>(value ? CK_TRUE : CK_FALSE)}; }

const CK_ATTRIBUTE* TemplateFind(const CK_ATTRIBUTE* attributes, CK_ULONG count,
                                 CK_ATTRIBUTE_TYPE type) {
  if (attributes == nullptr) return nullptr;
  for (CK_ULONG i = 0; i < count; ++i)
    if (attributes[i].type == type) return &attributes[i];
  return nullptr;
}

bool TemplateUlong(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                   CK_ULONG* value) {
  const CK_ATTRIBUTE* a = TemplateFind(attributes, count, type);
  if (a == nullptr || a->pValue == nullptr || a->ulValueLen != sizeof(CK_ULONG)) return false;
  std::memcpy(value, a->pValue, sizeof(CK_ULONG));
  return true;
}

bool TemplateBool(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                  bool* value) {
  const CK_ATTRIBUTE* a = TemplateFind(attributes, count, type);
  if (a == nullptr || a->pValue == nullptr || a->ulValueLen != sizeof(CK_BBOOL)) return false;
  *value = *static_cast<const CK_BBOOL*>(a->pValue) != CK_FALSE;
  return true;
}

}  // namespace marlinok::pkcs11
