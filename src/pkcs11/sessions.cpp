#include "pkcs11/sessions.h"

#include <unistd.h>

#include "platform/registry.h"

namespace marlinok::pkcs11 {

void OperationSlot::Reset() {
  operation.reset();
  SecureWipe(pending.data(), pending.size());
  pending.clear();
  hasPending = false;
}

CK_RV Module::Initialize(const CK_C_INITIALIZE_ARGS* args) {
  std::lock_guard<std::mutex> init(initMutex_);
  if (initialized_ && pid_ == getpid()) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  CK_C_INITIALIZE_ARGS given{};
  if (args != nullptr) {
    given = *args;
    if (given.pReserved != nullptr) return CKR_ARGUMENTS_BAD;
    const int callbacks = (given.CreateMutex != nullptr) + (given.DestroyMutex != nullptr) +
                          (given.LockMutex != nullptr) + (given.UnlockMutex != nullptr);
    if (callbacks != 0 && callbacks != 4) return CKR_ARGUMENTS_BAD;
  }
  // A child of a process that had the module initialized starts with none
  // of its parent's sessions.
  sessions.clear();
  objects.Clear();
  loggedIn = false;
  appMutex_ = nullptr;
  callbacks_ = CK_C_INITIALIZE_ARGS{};
  if (given.CreateMutex != nullptr && (given.flags & CKF_OS_LOCKING_OK) == 0) {
    // The application wants its own locking used.
    void* mutex = nullptr;
    if (given.CreateMutex(&mutex) != CKR_OK || mutex == nullptr) return CKR_CANT_LOCK;
    callbacks_ = given;
    appMutex_ = mutex;
  }
  // Handles keep counting up: one from before C_Finalize names nothing now.
  initialized_ = true;
  pid_ = getpid();
  return CKR_OK;
}

CK_RV Module::Finalize() {
  std::lock_guard<std::mutex> init(initMutex_);
  if (!initialized_ || pid_ != getpid()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  LockRaw();
  sessions.clear();
  objects.Clear();
  loggedIn = false;
  initialized_ = false;
  UnlockRaw();
  if (appMutex_ != nullptr) callbacks_.DestroyMutex(appMutex_);
  appMutex_ = nullptr;
  // The hive is looked up afresh (MARLINOK_REGISTRY) by the next C_Initialize.
  platform::ResetRegistryForTesting();
  return CKR_OK;
}

void Module::LockRaw() {
  if (appMutex_ != nullptr)
    callbacks_.LockMutex(appMutex_);
  else
    own_.lock();
}

void Module::UnlockRaw() {
  if (appMutex_ != nullptr)
    callbacks_.UnlockMutex(appMutex_);
  else
    own_.unlock();
}

bool Module::Enter() {
  {
    std::lock_guard<std::mutex> init(initMutex_);
    if (!initialized_ || pid_ != getpid()) return false;
  }
  LockRaw();
  return true;
}

void Module::Leave() { UnlockRaw(); }

Module& TheModule() {
  static Module* module = new Module();  // never destroyed: calls may race the exit
  return *module;
}

CK_RV FindSession(CK_SESSION_HANDLE handle, std::shared_ptr<Session>* session, bool* loggedIn) {
  ModuleAccess access;
  if (access.rv != CKR_OK) return access.rv;
  auto found = access.module().sessions.find(handle);
  if (found == access.module().sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  *session = found->second;
  if (loggedIn != nullptr) *loggedIn = access.module().loggedIn;
  return CKR_OK;
}

}  // namespace marlinok::pkcs11
