// The module's state between C_Initialize and C_Finalize: the lock (the
// operating system's, or the application's own mutex callbacks), the login
// state the application's sessions share, the sessions with their
// operations and searches, and the object handles.
#ifndef MARLINOK_PKCS11_SESSIONS_H
#define MARLINOK_PKCS11_SESSIONS_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "pkcs11/objects.h"
#include "pkcs11/operation.h"
#include "pkcs11/pkcs11_api.h"

namespace marlinok::pkcs11 {

constexpr CK_SLOT_ID kSlotId = 0;

// One operation slot of a session, with the result of a size query or of a
// call whose buffer was too short, kept for the call that fetches it.
struct OperationSlot {
  std::unique_ptr<Operation> operation;
  Bytes pending;
  bool hasPending = false;
  void Reset();
};

struct Session {
  CK_SESSION_HANDLE handle = 0;
  CK_FLAGS flags = 0;
  std::mutex mutex;  // one call at a time works on a session's operations
  OperationSlot slots[static_cast<int>(OperationKind::Count)];
  bool findActive = false;
  std::vector<CK_OBJECT_HANDLE> found;
  std::size_t nextFound = 0;

  OperationSlot& Slot(OperationKind kind) { return slots[static_cast<int>(kind)]; }
  bool ReadWrite() const { return (flags & CKF_RW_SESSION) != 0; }
};

class Module {
 public:
  // C_Initialize's argument checks and lock choice; CKR_OK when initialized.
  CK_RV Initialize(const CK_C_INITIALIZE_ARGS* args);
  CK_RV Finalize();

  // Takes the module's lock; false (nothing held) when not initialized.
  bool Enter();
  void Leave();

  // Under the lock.
  bool loggedIn = false;
  std::map<CK_SESSION_HANDLE, std::shared_ptr<Session>> sessions;
  CK_SESSION_HANDLE nextSession = 1;
  ObjectTable objects;

 private:
  void LockRaw();
  void UnlockRaw();

  std::mutex initMutex_;  // C_Initialize and C_Finalize against each other
  bool initialized_ = false;
  pid_t pid_ = 0;  // a child after fork starts over
  std::mutex own_;
  CK_C_INITIALIZE_ARGS callbacks_{};
  void* appMutex_ = nullptr;  // the application's mutex, when its callbacks are used
};

Module& TheModule();

// Holds the module's lock; `rv` is CKR_CRYPTOKI_NOT_INITIALIZED when it
// could not be taken.
class ModuleAccess {
 public:
  ModuleAccess() : rv(TheModule().Enter() ? CKR_OK : CKR_CRYPTOKI_NOT_INITIALIZED) {}
  ~ModuleAccess() {
    if (rv == CKR_OK) TheModule().Leave();
  }
  ModuleAccess(const ModuleAccess&) = delete;
  ModuleAccess& operator=(const ModuleAccess&) = delete;
  Module& module() { return TheModule(); }
  const CK_RV rv;
};

// The session a handle names, and the login state, taken under the lock.
// CKR_CRYPTOKI_NOT_INITIALIZED or CKR_SESSION_HANDLE_INVALID.
CK_RV FindSession(CK_SESSION_HANDLE handle, std::shared_ptr<Session>* session, bool* loggedIn);

}  // namespace marlinok::pkcs11

#endif
