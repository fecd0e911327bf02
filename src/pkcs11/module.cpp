// The PKCS #11 v2.40 module, libmarlinok-pkcs11.so: the C_ functions and
// the function list. One slot (0) holds one token, the hive MARLINOK_REGISTRY
// names (looked up at C_Initialize: C_Finalize lets go of it).
//
// Login: CKU_USER with the token's PIN, checked as the token's own PIN
// check does. There is no SO PIN: C_Login as CKU_SO answers CKR_PIN_INCORRECT,
// C_InitToken CKR_PIN_INCORRECT, C_InitPIN CKR_USER_NOT_LOGGED_IN. While no
// PIN is stored, C_Login answers CKR_USER_PIN_NOT_INITIALIZED and C_SetPIN in
// a read/write session stores the new PIN whatever old PIN it is given
// (creating the container root when the hive has none). A test sets a PIN on
// a fresh hive with C_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION) and
// C_SetPIN(session, NULL, 0, pin, length), or with the tool, which needs the
// container root to exist: `marlinok-tool create tmp && marlinok-tool pin set
// PIN && marlinok-tool delete tmp`. (pkcs11-tool --change-pin logs in first,
// so it cannot set the first PIN.)
//
// Every call returns the standard's code and prints nothing; no exception
// leaves a call.
#include <cstring>
#include <functional>
#include <string>

#include "core/locks.h"
#include "pkcs11/digests.h"
#include "pkcs11/objects.h"
#include "pkcs11/os_random.h"
#include "pkcs11/rsa_mechanisms.h"
#include "pkcs11/secret_keys.h"
#include "pkcs11/sessions.h"
#include "platform/registry.h"
#include "store/pin.h"
#include "store/registry_layout.h"

#define MARLINOK_PKCS11_EXPORT extern "C" __attribute__((visibility("default")))

namespace marlinok::pkcs11 {
namespace {

__attribute__((constructor)) void OnModuleLoad() { CreateLibraryLocks(); }

template <class Body>
CK_RV Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return CKR_HOST_MEMORY;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}

void Pad(CK_UTF8CHAR* field, std::size_t size, const char* text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text, std::min(size, std::strlen(text)));
}

constexpr CK_ULONG kMaxPinLength = 4096;

struct MechanismEntry {
  CK_MECHANISM_TYPE type;
  CK_ULONG minKey, maxKey;
  CK_FLAGS flags;
};

constexpr CK_FLAGS kCrypt = CKF_ENCRYPT | CKF_DECRYPT;
constexpr CK_FLAGS kSign = CKF_SIGN | CKF_VERIFY;

const MechanismEntry kMechanisms[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, 508, 2048, CKF_GENERATE_KEY_PAIR},
    {CKM_RSA_PKCS, 508, 2048, kCrypt | kSign | CKF_WRAP | CKF_UNWRAP},
    {CKM_RSA_X_509, 508, 2048, kCrypt | kSign},
    {CKM_RSA_PKCS_OAEP, 508, 2048, kCrypt},
    {CKM_RSA_PKCS_PSS, 508, 2048, kSign},
    {CKM_MD5_RSA_PKCS, 508, 2048, kSign},
    {CKM_SHA1_RSA_PKCS, 508, 2048, kSign},
    {CKM_SHA224_RSA_PKCS, 508, 2048, kSign},
    {CKM_SHA256_RSA_PKCS, 508, 2048, kSign},
    {CKM_SHA384_RSA_PKCS, 508, 2048, kSign},
    {CKM_SHA512_RSA_PKCS, 508, 2048, kSign},
    {CKM_SHA1_RSA_PKCS_PSS, 508, 2048, kSign},
    {CKM_SHA224_RSA_PKCS_PSS, 508, 2048, kSign},
    {CKM_SHA256_RSA_PKCS_PSS, 508, 2048, kSign},
    {CKM_SHA384_RSA_PKCS_PSS, 508, 2048, kSign},
    {CKM_SHA512_RSA_PKCS_PSS, 508, 2048, kSign},
    {CKM_MD5, 0, 0, CKF_DIGEST},
    {CKM_SHA_1, 0, 0, CKF_DIGEST},
    {CKM_SHA224, 0, 0, CKF_DIGEST},
    {CKM_SHA256, 0, 0, CKF_DIGEST},
    {CKM_SHA384, 0, 0, CKF_DIGEST},
    {CKM_SHA512, 0, 0, CKF_DIGEST},
    {CKM_DES3_KEY_GEN, 24, 24, CKF_GENERATE},
    {CKM_DES3_ECB, 24, 24, kCrypt},
    {CKM_DES3_CBC, 24, 24, kCrypt},
    {CKM_DES3_CBC_PAD, 24, 24, kCrypt},
    {CKM_RC4_KEY_GEN, 8, 2048, CKF_GENERATE},
    {CKM_RC4, 8, 2048, kCrypt},
};

bool PinStored() {
  platform::RegistryKey root;
  if (platform::OpenKey(store::kContainerRoot, root) != platform::kErrorSuccess) return false;
  uint32_t size = 0;
  return platform::QueryValue(root, store::kPinValue, nullptr, nullptr, &size) ==
             platform::kErrorSuccess &&
         size != 0;
}

// A PIN as the token keeps it: a C string, no NUL inside.
bool PinText(CK_UTF8CHAR_PTR pin, CK_ULONG length, std::string* text) {
  if (pin == nullptr && length != 0) return false;
  text->assign(reinterpret_cast<const char*>(pin), length);
  return text->find('\0') == std::string::npos;
}

class DigestOperation : public Operation {
 public:
  explicit DigestOperation(std::unique_ptr<Hasher> hasher) : hasher_(std::move(hasher)) {}
  CK_RV Update(const uint8_t* data, std::size_t length, Bytes*) override {
    hasher_->Update(data, length);
    return CKR_OK;
  }
  CK_RV Final(Bytes* output) override {
    output->assign(hasher_->Size(), 0);
    hasher_->Final(output->data());
    return CKR_OK;
  }

 private:
  std::unique_ptr<Hasher> hasher_;
};

// Hands a result out by the standard's rules: a null buffer asks for the
// length, a short one gets CKR_BUFFER_TOO_SMALL; both keep the operation
// and the computed result for the next call. `finishes`: a delivered result
// ends the operation. Any failure ends it.
CK_RV Deliver(Session& session, OperationKind kind, bool finishes,
              const std::function<CK_RV(Operation&, Bytes*)>& compute, CK_BYTE_PTR out,
              CK_ULONG_PTR outLength) {
  OperationSlot& slot = session.Slot(kind);
  if (slot.operation == nullptr) return CKR_OPERATION_NOT_INITIALIZED;
  if (outLength == nullptr) {
    slot.Reset();
    return CKR_ARGUMENTS_BAD;
  }
  if (!slot.hasPending) {
    Bytes result;
    const CK_RV rv = compute(*slot.operation, &result);
    if (rv != CKR_OK) {
      slot.Reset();
      return rv;
    }
    slot.pending = std::move(result);
    slot.hasPending = true;
  }
  const CK_ULONG size = slot.pending.size();
  if (out == nullptr) {
    *outLength = size;
    return CKR_OK;
  }
  if (*outLength < size) {
    *outLength = size;
    return CKR_BUFFER_TOO_SMALL;
  }
  if (size != 0) std::memcpy(out, slot.pending.data(), size);
  *outLength = size;
  if (finishes) {
    slot.Reset();
  } else {
    SecureWipe(slot.pending.data(), slot.pending.size());
    slot.pending.clear();
    slot.hasPending = false;
  }
  return CKR_OK;
}

// Runs `body` with the session locked.
CK_RV WithSession(CK_SESSION_HANDLE handle,
                  const std::function<CK_RV(Session&, bool loggedIn)>& body) {
  std::shared_ptr<Session> session;
  bool loggedIn = false;
  if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
  std::lock_guard<std::mutex> lock(session->mutex);
  return body(*session, loggedIn);
}

bool LookupObject(CK_OBJECT_HANDLE handle, ObjectRef* ref) {
  ModuleAccess access;
  return access.rv == CKR_OK && access.module().objects.Lookup(handle, ref);
}

CK_ATTRIBUTE_TYPE PermissionOf(OperationKind kind) {
  switch (kind) {
    case OperationKind::Encrypt:
      return CKA_ENCRYPT;
    case OperationKind::Decrypt:
      return CKA_DECRYPT;
    case OperationKind::Sign:
      return CKA_SIGN;
    default:
      return CKA_VERIFY;
  }
}

bool IsTrue(const LoadedObject& object, CK_ATTRIBUTE_TYPE type) {
  const Bytes* value = FindAttribute(object.attributes, type);
  return value != nullptr && value->size() == 1 && (*value)[0] != 0;
}

CK_ULONG UlongOf(const LoadedObject& object, CK_ATTRIBUTE_TYPE type) {
  const Bytes* value = FindAttribute(object.attributes, type);
  CK_ULONG v = CK_UNAVAILABLE_INFORMATION;
  if (value != nullptr && value->size() == sizeof v) std::memcpy(&v, value->data(), sizeof v);
  return v;
}

CK_RV InitOperation(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key,
                    OperationKind kind) {
  return WithSession(handle, [&](Session& session, bool loggedIn) -> CK_RV {
    OperationSlot& slot = session.Slot(kind);
    if (slot.operation != nullptr) return CKR_OPERATION_ACTIVE;
    if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
    const bool rsa = IsRsaMechanism(mechanism->mechanism, kind);
    const bool symmetric = (kind == OperationKind::Encrypt || kind == OperationKind::Decrypt) &&
                           IsSymmetricMechanism(mechanism->mechanism);
    if (!rsa && !symmetric) return CKR_MECHANISM_INVALID;
    ObjectRef ref;
    if (!LookupObject(key, &ref)) return CKR_KEY_HANDLE_INVALID;
    if (ref.kind == ObjectKind::PrivateKey && !loggedIn) return CKR_USER_NOT_LOGGED_IN;
    LoadedObject object;
    if (LoadObject(ref, loggedIn, &object) != CKR_OK) return CKR_KEY_HANDLE_INVALID;
    if (!IsTrue(object, PermissionOf(kind))) return CKR_KEY_FUNCTION_NOT_PERMITTED;
    CK_RV rv;
    slot.Reset();
    if (rsa) {
      if (UlongOf(object, CKA_KEY_TYPE) != CKK_RSA) return CKR_KEY_TYPE_INCONSISTENT;
      rv = NewRsaOperation(kind, *mechanism, ref, object.publicRecord, &slot.operation);
    } else {
      if (ref.kind != ObjectKind::SessionObject || object.objectClass != CKO_SECRET_KEY)
        return CKR_KEY_TYPE_INCONSISTENT;
      rv = NewSymmetricOperation(kind, *mechanism, *ref.session, &slot.operation);
    }
    if (rv != CKR_OK) slot.Reset();
    return rv;
  });
}

CK_RV SinglePart(CK_SESSION_HANDLE handle, OperationKind kind, CK_BYTE_PTR data, CK_ULONG length,
                 CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
  return WithSession(handle, [&](Session& session, bool) -> CK_RV {
    if (session.Slot(kind).operation == nullptr) return CKR_OPERATION_NOT_INITIALIZED;
    if (data == nullptr && length != 0) {
      session.Slot(kind).Reset();
      return CKR_ARGUMENTS_BAD;
    }
    return Deliver(
        session, kind, true,
        [&](Operation& operation, Bytes* result) {
          Bytes first, rest;
          CK_RV rv = operation.Update(data, length, &first);
          if (rv == CKR_OK) rv = operation.Final(&rest);
          first.insert(first.end(), rest.begin(), rest.end());
          SecureWipe(rest.data(), rest.size());
          *result = std::move(first);
          return rv;
        },
        out, outLength);
  });
}

CK_RV UpdatePart(CK_SESSION_HANDLE handle, OperationKind kind, CK_BYTE_PTR data, CK_ULONG length,
                 CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
  return WithSession(handle, [&](Session& session, bool) -> CK_RV {
    OperationSlot& slot = session.Slot(kind);
    if (slot.operation == nullptr) return CKR_OPERATION_NOT_INITIALIZED;
    if ((data == nullptr && length != 0) || !slot.operation->MultiPart()) {
      const CK_RV rv = slot.operation->MultiPart() ? CKR_ARGUMENTS_BAD : CKR_MECHANISM_INVALID;
      slot.Reset();
      return rv;
    }
    if (outLength == nullptr) {
      // Signatures, verifications and digests take input only.
      Bytes ignored;
      const CK_RV rv = slot.operation->Update(data, length, &ignored);
      if (rv != CKR_OK) slot.Reset();
      return rv;
    }
    return Deliver(
        session, kind, false,
        [&](Operation& operation, Bytes* result) { return operation.Update(data, length, result); },
        out, outLength);
  });
}

CK_RV FinalPart(CK_SESSION_HANDLE handle, OperationKind kind, CK_BYTE_PTR out,
                CK_ULONG_PTR outLength) {
  return WithSession(handle, [&](Session& session, bool) -> CK_RV {
    return Deliver(
        session, kind, true,
        [&](Operation& operation, Bytes* result) { return operation.Final(result); }, out,
        outLength);
  });
}

CK_RV VerifyWith(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, bool withData,
                 CK_BYTE_PTR signature, CK_ULONG signatureLength) {
  return WithSession(handle, [&](Session& session, bool) -> CK_RV {
    OperationSlot& slot = session.Slot(OperationKind::Verify);
    if (slot.operation == nullptr) return CKR_OPERATION_NOT_INITIALIZED;
    CK_RV rv = CKR_OK;
    if ((withData && data == nullptr && length != 0) || signature == nullptr) {
      rv = CKR_ARGUMENTS_BAD;
    } else {
      Bytes ignored;
      if (withData) rv = slot.operation->Update(data, length, &ignored);
      if (rv == CKR_OK) rv = slot.operation->Verify(signature, signatureLength);
    }
    slot.Reset();
    return rv;
  });
}

CK_RV CloseSessionLocked(Module& module, CK_SESSION_HANDLE handle) {
  auto found = module.sessions.find(handle);
  if (found == module.sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  module.objects.ForgetSessionObjects(handle);
  module.sessions.erase(found);
  if (module.sessions.empty()) module.loggedIn = false;
  return CKR_OK;
}

// The answer of a call the module does not offer, once the session is known
// to be one (a bad handle is still CKR_SESSION_HANDLE_INVALID).
CK_RV NotSupportedIn(CK_SESSION_HANDLE handle) noexcept {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    return CKR_FUNCTION_NOT_SUPPORTED;
  });
}

}  // namespace
}  // namespace marlinok::pkcs11

using namespace marlinok::pkcs11;
using marlinok::SecureWipe;

MARLINOK_PKCS11_EXPORT CK_RV C_Initialize(CK_VOID_PTR initArgs) {
  return Guarded(
      [&] { return TheModule().Initialize(static_cast<const CK_C_INITIALIZE_ARGS*>(initArgs)); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_Finalize(CK_VOID_PTR reserved) {
  return Guarded([&] {
    if (reserved != nullptr) return static_cast<CK_RV>(CKR_ARGUMENTS_BAD);
    return TheModule().Finalize();
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetInfo(CK_INFO_PTR info) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 40};
    Pad(info->manufacturerID, sizeof info->manufacturerID, "marlinok");
    info->flags = 0;
    Pad(info->libraryDescription, sizeof info->libraryDescription, "marlinok PKCS #11 module");
    info->libraryVersion = {0, 1};
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetSlotList(CK_BBOOL, CK_SLOT_ID_PTR slots, CK_ULONG_PTR count) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    if (slots == nullptr) {
      *count = 1;
      return CKR_OK;
    }
    if (*count < 1) {
      *count = 1;
      return CKR_BUFFER_TOO_SMALL;
    }
    slots[0] = kSlotId;
    *count = 1;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (slot != kSlotId) return CKR_SLOT_ID_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    Pad(info->slotDescription, sizeof info->slotDescription, "marlinok software token");
    Pad(info->manufacturerID, sizeof info->manufacturerID, "marlinok");
    info->flags = CKF_TOKEN_PRESENT;
    info->hardwareVersion = {0, 1};
    info->firmwareVersion = {0, 1};
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
  return Guarded([&]() -> CK_RV {
    CK_ULONG sessions = 0, rwSessions = 0;
    {
      ModuleAccess access;
      if (access.rv != CKR_OK) return access.rv;
      if (slot != kSlotId) return CKR_SLOT_ID_INVALID;
      if (info == nullptr) return CKR_ARGUMENTS_BAD;
      for (const auto& entry : access.module().sessions) {
        ++sessions;
        if (entry.second->ReadWrite()) ++rwSessions;
      }
    }
    std::memset(info, 0, sizeof *info);
    Pad(info->label, sizeof info->label, "marlinok");
    Pad(info->manufacturerID, sizeof info->manufacturerID, "marlinok");
    Pad(info->model, sizeof info->model, "software token");
    Pad(info->serialNumber, sizeof info->serialNumber, TokenSerial().c_str());
    info->flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
    if (PinStored()) info->flags |= CKF_USER_PIN_INITIALIZED;
    info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulSessionCount = sessions;
    info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulRwSessionCount = rwSessions;
    info->ulMaxPinLen = kMaxPinLength;
    info->ulMinPinLen = 1;
    info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion = {0, 1};
    info->firmwareVersion = {0, 1};
    std::memset(info->utcTime, ' ', sizeof info->utcTime);
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list,
                                                CK_ULONG_PTR count) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (slot != kSlotId) return CKR_SLOT_ID_INVALID;
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    const CK_ULONG total = sizeof kMechanisms / sizeof kMechanisms[0];
    if (list == nullptr) {
      *count = total;
      return CKR_OK;
    }
    if (*count < total) {
      *count = total;
      return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < total; ++i) list[i] = kMechanisms[i].type;
    *count = total;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type,
                                                CK_MECHANISM_INFO_PTR info) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (slot != kSlotId) return CKR_SLOT_ID_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    for (const MechanismEntry& m : kMechanisms) {
      if (m.type != type) continue;
      info->ulMinKeySize = m.minKey;
      info->ulMaxKeySize = m.maxKey;
      info->flags = m.flags;
      return CKR_OK;
    }
    return CKR_MECHANISM_INVALID;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR, CK_ULONG,
                                         CK_UTF8CHAR_PTR) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (slot != kSlotId) return CKR_SLOT_ID_INVALID;
    if (!access.module().sessions.empty()) return CKR_SESSION_EXISTS;
    return CKR_PIN_INCORRECT;  // no SO PIN matches: the token has none
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR, CK_ULONG) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    return CKR_USER_NOT_LOGGED_IN;  // only the SO may, and there is none
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR oldPin,
                                      CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
                                      CK_ULONG newLength) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    if (!session->ReadWrite()) return CKR_SESSION_READ_ONLY;
    std::string oldText, newText;
    if ((oldPin == nullptr && oldLength != 0) || (newPin == nullptr && newLength != 0))
      return CKR_ARGUMENTS_BAD;
    if (!PinText(newPin, newLength, &newText) || newText.find_first_of("\r\n") != std::string::npos)
      return CKR_PIN_INVALID;
    if (newLength < 1 || newLength > kMaxPinLength) return CKR_PIN_LEN_RANGE;
    if (PinStored()) {
      if (!PinText(oldPin, oldLength, &oldText)) return CKR_PIN_INCORRECT;
      const marlinok::Status checked = marlinok::store::CheckPin(oldText.c_str());
      SecureWipe(oldText.data(), oldText.size());
      if (checked != marlinok::Status::Ok) return CKR_PIN_INCORRECT;
    } else {
      marlinok::platform::RegistryKey root;
      if (marlinok::platform::CreateKey(marlinok::store::kContainerRoot, root, nullptr) !=
          marlinok::platform::kErrorSuccess)
        return CKR_DEVICE_ERROR;
    }
    const marlinok::Status stored = marlinok::store::StorePin(newText.c_str());
    SecureWipe(newText.data(), newText.size());
    return stored == marlinok::Status::Ok ? CKR_OK : CKR_DEVICE_ERROR;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                                           CK_SESSION_HANDLE_PTR handle) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (slot != kSlotId) return CKR_SLOT_ID_INVALID;
    if ((flags & CKF_SERIAL_SESSION) == 0) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (handle == nullptr) return CKR_ARGUMENTS_BAD;
    auto session = std::make_shared<Session>();
    session->handle = access.module().nextSession++;
    session->flags = flags & (CKF_SERIAL_SESSION | CKF_RW_SESSION);
    access.module().sessions.emplace(session->handle, session);
    *handle = session->handle;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE handle) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    return CloseSessionLocked(access.module(), handle);
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slot) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (slot != kSlotId) return CKR_SLOT_ID_INVALID;
    access.module().sessions.clear();
    access.module().objects.ForgetSessionObjects(0);
    access.module().loggedIn = false;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    info->slotID = kSlotId;
    info->flags = session->flags;
    info->ulDeviceError = 0;
    if (session->ReadWrite())
      info->state = loggedIn ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION;
    else
      info->state = loggedIn ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE handle, CK_BYTE_PTR,
                                                 CK_ULONG_PTR) {
  return NotSupportedIn(handle);
}

MARLINOK_PKCS11_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG,
                                                 CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) {
  return NotSupportedIn(handle);
}

MARLINOK_PKCS11_EXPORT CK_RV C_Login(CK_SESSION_HANDLE handle, CK_USER_TYPE user,
                                     CK_UTF8CHAR_PTR pin, CK_ULONG length) {
  return Guarded([&]() -> CK_RV {
    {
      ModuleAccess access;
      if (access.rv != CKR_OK) return access.rv;
      if (access.module().sessions.count(handle) == 0) return CKR_SESSION_HANDLE_INVALID;
      if (pin == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
      if (user == CKU_SO) return CKR_PIN_INCORRECT;  // the token has no SO PIN
      if (user == CKU_CONTEXT_SPECIFIC) return CKR_OPERATION_NOT_INITIALIZED;
      if (user != CKU_USER) return CKR_USER_TYPE_INVALID;
      if (access.module().loggedIn) return CKR_USER_ALREADY_LOGGED_IN;
    }
    if (!PinStored()) return CKR_USER_PIN_NOT_INITIALIZED;
    std::string text;
    if (!PinText(pin, length, &text)) return CKR_PIN_INCORRECT;
    const marlinok::Status checked = marlinok::store::CheckPin(text.c_str());
    SecureWipe(text.data(), text.size());
    if (checked == marlinok::Status::Refused) return CKR_USER_PIN_NOT_INITIALIZED;
    if (checked != marlinok::Status::Ok) return CKR_PIN_INCORRECT;
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (access.module().sessions.count(handle) == 0) return CKR_SESSION_HANDLE_INVALID;
    if (access.module().loggedIn) return CKR_USER_ALREADY_LOGGED_IN;
    access.module().loggedIn = true;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE handle) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (access.module().sessions.count(handle) == 0) return CKR_SESSION_HANDLE_INVALID;
    if (!access.module().loggedIn) return CKR_USER_NOT_LOGGED_IN;
    access.module().loggedIn = false;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR attributes,
                                            CK_ULONG count, CK_OBJECT_HANDLE_PTR object) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if ((attributes == nullptr && count != 0) || object == nullptr) return CKR_ARGUMENTS_BAD;
    bool token = false;
    CK_ULONG objectClass = 0;
    TemplateBool(attributes, count, CKA_TOKEN, &token);
    if (TemplateUlong(attributes, count, CKA_CLASS, &objectClass) && objectClass == CKO_PRIVATE_KEY)
      token = true;
    if (token && !session->ReadWrite()) return CKR_SESSION_READ_ONLY;
    std::vector<ObjectRef> refs;
    CK_RV rv;
    if (TemplateUlong(attributes, count, CKA_CLASS, &objectClass) && objectClass == CKO_SECRET_KEY)
      rv = CreateSecretKey(attributes, count, handle, &refs);
    else
      rv = CreateObject(attributes, count, handle, loggedIn, &refs);
    if (rv != CKR_OK) return rv;
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    *object = access.module().objects.HandleFor(refs.front());
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE,
                                          CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
  return NotSupportedIn(handle);
}

MARLINOK_PKCS11_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    ObjectRef ref;
    if (!LookupObject(object, &ref)) return CKR_OBJECT_HANDLE_INVALID;
    LoadedObject loaded;
    if (ref.kind == ObjectKind::PublicKey) {
      // Removing the public half removes the pair, private key included.
      if (!loggedIn) return CKR_USER_NOT_LOGGED_IN;
    }
    if (LoadObject(ref, loggedIn, &loaded) != CKR_OK) return CKR_OBJECT_HANDLE_INVALID;
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    if (ref.kind == ObjectKind::SessionObject) {
      access.module().objects.Forget(object);
      return CKR_OK;
    }
    if (!session->ReadWrite()) return CKR_SESSION_READ_ONLY;
    const CK_RV rv = DestroyTokenObject(ref);
    if (rv != CKR_OK) return rv;
    if (ref.kind == ObjectKind::PrivateKey || ref.kind == ObjectKind::PublicKey) {
      for (ObjectKind half : {ObjectKind::PrivateKey, ObjectKind::PublicKey}) {
        ObjectRef pair = ref;
        pair.kind = half;
        access.module().objects.Forget(access.module().objects.HandleFor(pair));
      }
    } else {
      access.module().objects.Forget(object);
    }
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object,
                                             CK_ULONG_PTR size) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if (size == nullptr) return CKR_ARGUMENTS_BAD;
    ObjectRef ref;
    LoadedObject loaded;
    if (!LookupObject(object, &ref) || LoadObject(ref, loggedIn, &loaded) != CKR_OK)
      return CKR_OBJECT_HANDLE_INVALID;
    *size = CK_UNAVAILABLE_INFORMATION;
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object,
                                                 CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if (attributes == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    ObjectRef ref;
    LoadedObject loaded;
    if (!LookupObject(object, &ref) || LoadObject(ref, loggedIn, &loaded) != CKR_OK)
      return CKR_OBJECT_HANDLE_INVALID;
    return GetAttributes(loaded, attributes, count);
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object,
                                                 CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if (attributes == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    ObjectRef ref;
    LoadedObject loaded;
    if (!LookupObject(object, &ref) || LoadObject(ref, loggedIn, &loaded) != CKR_OK)
      return CKR_OBJECT_HANDLE_INVALID;
    if (loaded.isToken && !session->ReadWrite()) return CKR_SESSION_READ_ONLY;
    ModuleAccess access;  // session objects are shared between sessions
    if (access.rv != CKR_OK) return access.rv;
    return SetAttributes(ref, attributes, count);
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE handle,
                                               CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  return Guarded([&]() -> CK_RV {
    return WithSession(handle, [&](Session& session, bool loggedIn) -> CK_RV {
      if (attributes == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
      if (session.findActive) return CKR_OPERATION_ACTIVE;
      CK_ULONG wantedClass = 0;
      const bool classGiven = TemplateUlong(attributes, count, CKA_CLASS, &wantedClass);
      std::vector<ObjectRef> candidates;
      for (const ObjectRef& ref : ListStoredObjects()) {
        if (classGiven && ref.kind == ObjectKind::PrivateKey && wantedClass != CKO_PRIVATE_KEY)
          continue;
        if (classGiven && ref.kind == ObjectKind::PublicKey && wantedClass != CKO_PUBLIC_KEY)
          continue;
        if (ref.kind == ObjectKind::PrivateKey && !loggedIn) continue;
        candidates.push_back(ref);
      }
      {
        ModuleAccess access;
        if (access.rv != CKR_OK) return access.rv;
        for (const ObjectRef& ref : access.module().objects.SessionObjects())
          candidates.push_back(ref);
      }
      std::vector<ObjectRef> matching;
      for (const ObjectRef& ref : candidates) {
        LoadedObject loaded;
        if (LoadObject(ref, loggedIn, &loaded, false) != CKR_OK) continue;
        if (Matches(loaded, attributes, count)) matching.push_back(ref);
      }
      ModuleAccess access;
      if (access.rv != CKR_OK) return access.rv;
      session.found.clear();
      for (const ObjectRef& ref : matching)
        session.found.push_back(access.module().objects.HandleFor(ref));
      session.nextFound = 0;
      session.findActive = true;
      return CKR_OK;
    });
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects,
                                           CK_ULONG maximum, CK_ULONG_PTR count) {
  return Guarded([&]() -> CK_RV {
    return WithSession(handle, [&](Session& session, bool) -> CK_RV {
      if (!session.findActive) return CKR_OPERATION_NOT_INITIALIZED;
      if ((objects == nullptr && maximum != 0) || count == nullptr) return CKR_ARGUMENTS_BAD;
      CK_ULONG n = 0;
      while (n < maximum && session.nextFound < session.found.size())
        objects[n++] = session.found[session.nextFound++];
      *count = n;
      return CKR_OK;
    });
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE handle) {
  return Guarded([&]() -> CK_RV {
    return WithSession(handle, [&](Session& session, bool) -> CK_RV {
      if (!session.findActive) return CKR_OPERATION_NOT_INITIALIZED;
      session.findActive = false;
      session.found.clear();
      return CKR_OK;
    });
  });
}

#define MARLINOK_CRYPT_CALLS(Name, Kind)                                                          \
  MARLINOK_PKCS11_EXPORT CK_RV C_##Name##Init(CK_SESSION_HANDLE handle,                           \
                                              CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) { \
    return Guarded([&] { return InitOperation(handle, mechanism, key, OperationKind::Kind); });   \
  }                                                                                               \
  MARLINOK_PKCS11_EXPORT CK_RV C_##Name(CK_SESSION_HANDLE handle, CK_BYTE_PTR in,                 \
                                        CK_ULONG inLength, CK_BYTE_PTR out,                       \
                                        CK_ULONG_PTR outLength) {                                 \
    return Guarded(                                                                               \
        [&] { return SinglePart(handle, OperationKind::Kind, in, inLength, out, outLength); });   \
  }                                                                                               \
  MARLINOK_PKCS11_EXPORT CK_RV C_##Name##Update(CK_SESSION_HANDLE handle, CK_BYTE_PTR in,         \
                                                CK_ULONG inLength, CK_BYTE_PTR out,               \
                                                CK_ULONG_PTR outLength) {                         \
    return Guarded(                                                                               \
        [&] { return UpdatePart(handle, OperationKind::Kind, in, inLength, out, outLength); });   \
  }                                                                                               \
  MARLINOK_PKCS11_EXPORT CK_RV C_##Name##Final(CK_SESSION_HANDLE handle, CK_BYTE_PTR out,         \
                                               CK_ULONG_PTR outLength) {                          \
    return Guarded([&] { return FinalPart(handle, OperationKind::Kind, out, outLength); });       \
  }

MARLINOK_CRYPT_CALLS(Encrypt, Encrypt)
MARLINOK_CRYPT_CALLS(Decrypt, Decrypt)
#undef MARLINOK_CRYPT_CALLS

MARLINOK_PKCS11_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism) {
  return Guarded([&]() -> CK_RV {
    return WithSession(handle, [&](Session& session, bool) -> CK_RV {
      OperationSlot& slot = session.Slot(OperationKind::Digest);
      if (slot.operation != nullptr) return CKR_OPERATION_ACTIVE;
      if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
      auto hasher = NewHasher(mechanism->mechanism);
      if (hasher == nullptr) return CKR_MECHANISM_INVALID;
      slot.Reset();
      slot.operation = std::make_unique<DigestOperation>(std::move(hasher));
      return CKR_OK;
    });
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length,
                                      CK_BYTE_PTR digest, CK_ULONG_PTR digestLength) {
  return Guarded([&] {
    return SinglePart(handle, OperationKind::Digest, data, length, digest, digestLength);
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR data,
                                            CK_ULONG length) {
  return Guarded(
      [&] { return UpdatePart(handle, OperationKind::Digest, data, length, nullptr, nullptr); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE) {
  return Guarded([&]() -> CK_RV {
    return WithSession(handle, [&](Session& session, bool) -> CK_RV {
      if (session.Slot(OperationKind::Digest).operation == nullptr)
        return CKR_OPERATION_NOT_INITIALIZED;
      return CKR_KEY_INDIGESTIBLE;
    });
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR digest,
                                           CK_ULONG_PTR digestLength) {
  return Guarded([&] { return FinalPart(handle, OperationKind::Digest, digest, digestLength); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                                        CK_OBJECT_HANDLE key) {
  return Guarded([&] { return InitOperation(handle, mechanism, key, OperationKind::Sign); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length,
                                    CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
  return Guarded([&] {
    return SinglePart(handle, OperationKind::Sign, data, length, signature, signatureLength);
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR data,
                                          CK_ULONG length) {
  return Guarded(
      [&] { return UpdatePart(handle, OperationKind::Sign, data, length, nullptr, nullptr); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature,
                                         CK_ULONG_PTR signatureLength) {
  return Guarded(
      [&] { return FinalPart(handle, OperationKind::Sign, signature, signatureLength); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR,
                                               CK_OBJECT_HANDLE) {
  return NotSupportedIn(handle);
}

MARLINOK_PKCS11_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG,
                                           CK_BYTE_PTR, CK_ULONG_PTR) {
  return NotSupportedIn(handle);
}

MARLINOK_PKCS11_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                                          CK_OBJECT_HANDLE key) {
  return Guarded([&] { return InitOperation(handle, mechanism, key, OperationKind::Verify); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length,
                                      CK_BYTE_PTR signature, CK_ULONG signatureLength) {
  return Guarded(
      [&] { return VerifyWith(handle, data, length, true, signature, signatureLength); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR data,
                                            CK_ULONG length) {
  return Guarded(
      [&] { return UpdatePart(handle, OperationKind::Verify, data, length, nullptr, nullptr); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature,
                                           CK_ULONG signatureLength) {
  return Guarded([&] { return VerifyWith(handle, nullptr, 0, false, signature, signatureLength); });
}

MARLINOK_PKCS11_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR,
                                                 CK_OBJECT_HANDLE) {
  return NotSupportedIn(handle);
}

MARLINOK_PKCS11_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG,
                                             CK_BYTE_PTR, CK_ULONG_PTR) {
  return NotSupportedIn(handle);
}

#define MARLINOK_DUAL_CALL(Name)                                                            \
  MARLINOK_PKCS11_EXPORT CK_RV C_##Name(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG,    \
                                        CK_BYTE_PTR, CK_ULONG_PTR) {                        \
    return Guarded([&]() -> CK_RV {                                                         \
      std::shared_ptr<Session> session;                                                     \
      if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv; \
      return CKR_FUNCTION_NOT_SUPPORTED;                                                    \
    });                                                                                     \
  }

MARLINOK_DUAL_CALL(DigestEncryptUpdate)
MARLINOK_DUAL_CALL(DecryptDigestUpdate)
MARLINOK_DUAL_CALL(SignEncryptUpdate)
MARLINOK_DUAL_CALL(DecryptVerifyUpdate)
#undef MARLINOK_DUAL_CALL

MARLINOK_PKCS11_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                                           CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                                           CK_OBJECT_HANDLE_PTR key) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    if (mechanism == nullptr || key == nullptr || (attributes == nullptr && count != 0))
      return CKR_ARGUMENTS_BAD;
    std::vector<ObjectRef> refs;
    const CK_RV rv = GenerateSecretKey(mechanism->mechanism, attributes, count, handle, &refs);
    if (rv != CKR_OK) return rv;
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    *key = access.module().objects.HandleFor(refs.front());
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GenerateKeyPair(
    CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate,
    CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
    CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if (mechanism == nullptr || publicKey == nullptr || privateKey == nullptr ||
        (publicTemplate == nullptr && publicCount != 0) ||
        (privateTemplate == nullptr && privateCount != 0))
      return CKR_ARGUMENTS_BAD;
    if (mechanism->mechanism != CKM_RSA_PKCS_KEY_PAIR_GEN) return CKR_MECHANISM_INVALID;
    if (!session->ReadWrite()) return CKR_SESSION_READ_ONLY;
    if (!loggedIn) return CKR_USER_NOT_LOGGED_IN;
    std::vector<ObjectRef> refs;
    const CK_RV rv =
        GeneratePair(publicTemplate, publicCount, privateTemplate, privateCount, &refs);
    if (rv != CKR_OK) return rv;
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    *privateKey = access.module().objects.HandleFor(refs[0]);
    *publicKey = access.module().objects.HandleFor(refs[1]);
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                                       CK_OBJECT_HANDLE wrappingKey, CK_OBJECT_HANDLE key,
                                       CK_BYTE_PTR wrapped, CK_ULONG_PTR wrappedLength) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if (mechanism == nullptr || wrappedLength == nullptr) return CKR_ARGUMENTS_BAD;
    if (mechanism->mechanism != CKM_RSA_PKCS) return CKR_MECHANISM_INVALID;
    ObjectRef wrapRef, keyRef;
    LoadedObject wrapObject, keyObject;
    if (!LookupObject(wrappingKey, &wrapRef) ||
        LoadObject(wrapRef, loggedIn, &wrapObject) != CKR_OK)
      return CKR_WRAPPING_KEY_HANDLE_INVALID;
    if (!LookupObject(key, &keyRef) || LoadObject(keyRef, loggedIn, &keyObject) != CKR_OK)
      return CKR_KEY_HANDLE_INVALID;
    if (wrapObject.objectClass != CKO_PUBLIC_KEY || !IsTrue(wrapObject, CKA_WRAP))
      return CKR_WRAPPING_KEY_TYPE_INCONSISTENT;
    if (keyRef.kind != ObjectKind::SessionObject || keyObject.objectClass != CKO_SECRET_KEY)
      return CKR_KEY_NOT_WRAPPABLE;
    if (!IsTrue(keyObject, CKA_EXTRACTABLE)) return CKR_KEY_UNEXTRACTABLE;
    const std::size_t k = (wrapObject.modulusBits + 7) / 8;
    if (wrapped == nullptr) {
      *wrappedLength = k;
      return CKR_OK;
    }
    if (*wrappedLength < k) {
      *wrappedLength = k;
      return CKR_BUFFER_TOO_SMALL;
    }
    const marlinok::SecretBuffer& secret = keyRef.session->secret;
    Bytes block, out;
    CK_RV rv = EncodePkcs1Type2(secret.data(), secret.size(), k, &block);
    if (rv == CKR_DATA_LEN_RANGE) return CKR_KEY_SIZE_RANGE;
    if (rv == CKR_OK) rv = PublicOperation(wrapObject.publicRecord, block, &out);
    SecureWipe(block.data(), block.size());
    if (rv != CKR_OK) return rv == CKR_KEY_HANDLE_INVALID ? CKR_WRAPPING_KEY_HANDLE_INVALID : rv;
    std::memcpy(wrapped, out.data(), out.size());
    *wrappedLength = out.size();
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                                         CK_OBJECT_HANDLE unwrappingKey, CK_BYTE_PTR wrapped,
                                         CK_ULONG wrappedLength, CK_ATTRIBUTE_PTR attributes,
                                         CK_ULONG count, CK_OBJECT_HANDLE_PTR key) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    bool loggedIn = false;
    if (const CK_RV rv = FindSession(handle, &session, &loggedIn); rv != CKR_OK) return rv;
    if (mechanism == nullptr || wrapped == nullptr || key == nullptr ||
        (attributes == nullptr && count != 0))
      return CKR_ARGUMENTS_BAD;
    if (mechanism->mechanism != CKM_RSA_PKCS) return CKR_MECHANISM_INVALID;
    ObjectRef unwrapRef;
    LoadedObject unwrapObject;
    if (!LookupObject(unwrappingKey, &unwrapRef)) return CKR_UNWRAPPING_KEY_HANDLE_INVALID;
    if (unwrapRef.kind == ObjectKind::PrivateKey && !loggedIn) return CKR_USER_NOT_LOGGED_IN;
    if (LoadObject(unwrapRef, loggedIn, &unwrapObject) != CKR_OK)
      return CKR_UNWRAPPING_KEY_HANDLE_INVALID;
    if (unwrapObject.objectClass != CKO_PRIVATE_KEY || !IsTrue(unwrapObject, CKA_UNWRAP))
      return CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT;
    const std::size_t k = (unwrapObject.modulusBits + 7) / 8;
    if (wrappedLength != k) return CKR_WRAPPED_KEY_LEN_RANGE;
    Bytes block, value;
    CK_RV rv = PrivateOperation(unwrapRef, Bytes(wrapped, wrapped + wrappedLength), &block);
    if (rv == CKR_DATA_INVALID) return CKR_WRAPPED_KEY_INVALID;
    if (rv != CKR_OK) return rv;
    rv = DecodePkcs1Type2(block, &value);
    SecureWipe(block.data(), block.size());
    if (rv != CKR_OK) return CKR_WRAPPED_KEY_INVALID;
    std::vector<ObjectRef> refs;
    rv = UnwrappedSecretKey(value, attributes, count, handle, &refs);
    SecureWipe(value.data(), value.size());
    if (rv != CKR_OK) return rv;
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    *key = access.module().objects.HandleFor(refs.front());
    return CKR_OK;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR,
                                         CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                                         CK_OBJECT_HANDLE_PTR) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    return CKR_MECHANISM_INVALID;  // no derivation mechanism is offered
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR seed,
                                          CK_ULONG length) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    if (seed == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
    return CKR_RANDOM_SEED_NOT_SUPPORTED;  // the system's generator takes no seed
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR out,
                                              CK_ULONG length) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    if (out == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
    return OsRandom(out, length) ? CKR_OK : CKR_DEVICE_ERROR;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE handle) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    return CKR_FUNCTION_NOT_PARALLEL;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE handle) {
  return Guarded([&]() -> CK_RV {
    std::shared_ptr<Session> session;
    if (const CK_RV rv = FindSession(handle, &session, nullptr); rv != CKR_OK) return rv;
    return CKR_FUNCTION_NOT_PARALLEL;
  });
}

MARLINOK_PKCS11_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR) {
  return Guarded([&]() -> CK_RV {
    ModuleAccess access;
    if (access.rv != CKR_OK) return access.rv;
    return CKR_FUNCTION_NOT_SUPPORTED;  // the token is never inserted or removed
  });
}

namespace {

CK_FUNCTION_LIST kFunctionList = {
    {2, 40},
    C_Initialize,
    C_Finalize,
    C_GetInfo,
    C_GetFunctionList,
    C_GetSlotList,
    C_GetSlotInfo,
    C_GetTokenInfo,
    C_GetMechanismList,
    C_GetMechanismInfo,
    C_InitToken,
    C_InitPIN,
    C_SetPIN,
    C_OpenSession,
    C_CloseSession,
    C_CloseAllSessions,
    C_GetSessionInfo,
    C_GetOperationState,
    C_SetOperationState,
    C_Login,
    C_Logout,
    C_CreateObject,
    C_CopyObject,
    C_DestroyObject,
    C_GetObjectSize,
    C_GetAttributeValue,
    C_SetAttributeValue,
    C_FindObjectsInit,
    C_FindObjects,
    C_FindObjectsFinal,
    C_EncryptInit,
    C_Encrypt,
    C_EncryptUpdate,
    C_EncryptFinal,
    C_DecryptInit,
    C_Decrypt,
    C_DecryptUpdate,
    C_DecryptFinal,
    C_DigestInit,
    C_Digest,
    C_DigestUpdate,
    C_DigestKey,
    C_DigestFinal,
    C_SignInit,
    C_Sign,
    C_SignUpdate,
    C_SignFinal,
    C_SignRecoverInit,
    C_SignRecover,
    C_VerifyInit,
    C_Verify,
    C_VerifyUpdate,
    C_VerifyFinal,
    C_VerifyRecoverInit,
    C_VerifyRecover,
    C_DigestEncryptUpdate,
    C_DecryptDigestUpdate,
    C_SignEncryptUpdate,
    C_DecryptVerifyUpdate,
    C_GenerateKey,
    C_GenerateKeyPair,
    C_WrapKey,
    C_UnwrapKey,
    C_DeriveKey,
    C_SeedRandom,
    C_GenerateRandom,
    C_GetFunctionStatus,
    C_CancelFunction,
    C_WaitForSlotEvent,
};

}  // namespace

MARLINOK_PKCS11_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
  if (list == nullptr) return CKR_ARGUMENTS_BAD;
  *list = &kFunctionList;
  return CKR_OK;
}
