// A stand-in for Holdfast.dll, whose four PVK calls marlinok.dll forwards unchanged. It keeps
// an enabled flag and one data blob, enough for a test to see each call arrive with its
// arguments and its result come back.
#include <windows.h>

#include <cstring>
#include <vector>

#include "marlinok.h"

namespace {

// One caller at a time in the tests; the lock keeps the stand-in sound if that changes.
CRITICAL_SECTION g_lock;
bool g_enabled = false;
std::vector<uint8_t> g_data;

class Locked {
 public:
  Locked() { EnterCriticalSection(&g_lock); }
  ~Locked() { LeaveCriticalSection(&g_lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&g_lock);
  return TRUE;
}

extern "C" int32_t MARLINOK_CALL QM_EnablePVK(void) {
  Locked locked;
  g_enabled = true;
  return ERR_OK;
}

extern "C" int32_t MARLINOK_CALL QM_DisabelPVK(void) {
  Locked locked;
  g_enabled = false;
  return ERR_OK;
}

// 1 enabled, 0 disabled.
extern "C" int32_t MARLINOK_CALL QM_IsPVKEnabeled(void) {
  Locked locked;
  return g_enabled ? 1 : 0;
}

// Keeps a copy of the caller's bytes; a null blob, or null bytes with a length, is refused.
extern "C" int32_t MARLINOK_CALL QM_SetPVKEnabelData(const DataBlob* data) {
  if (data == nullptr || (data->data == nullptr && data->length != 0)) return ERR_FAILED;
  Locked locked;
  g_data.assign(data->data, data->data + data->length);
  return ERR_OK;
}

// Size-query rule: a null buffer or a short length gets the length needed and ERR_OK.
extern "C" int32_t MARLINOK_CALL StandIn_GetPVKEnabelData(uint8_t* out, uint32_t* length) {
  if (length == nullptr) return ERR_FAILED;
  Locked locked;
  const auto needed = static_cast<uint32_t>(g_data.size());
  if (out != nullptr && *length >= needed && needed != 0) std::memcpy(out, g_data.data(), needed);
  *length = needed;
  return ERR_OK;
}
