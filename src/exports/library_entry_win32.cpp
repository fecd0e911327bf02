#include <windows.h>

#include "core/locks.h"

// Loading never fails; only process attach does any work.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) marlinok::CreateLibraryLocks();
  return TRUE;
}
