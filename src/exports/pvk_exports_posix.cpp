// The four PVK calls belong to the sibling library libholdfast.so; they are
// offered here unchanged. On Windows the export table forwards them to
// Holdfast.dll and no code of ours runs.
#include <dlfcn.h>

#include <mutex>

#include "exports/export_guard.h"
#include "marlinok.h"

namespace {

void* HoldfastLibrary() {
  static void* handle = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { handle = dlopen("libholdfast.so", RTLD_NOW | RTLD_LOCAL); });
  return handle;
}

template <class Fn>
Fn ResolveHoldfast(const char* name) {
  void* library = HoldfastLibrary();
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Fn>(dlsym(library, name));
}

using NoArgument = int32_t (*)();
using DataArgument = int32_t (*)(const DataBlob*);

int32_t Forward(const char* name) {
  static_assert(sizeof(NoArgument) == sizeof(void*), "function pointers travel through dlsym");
  NoArgument fn = ResolveHoldfast<NoArgument>(name);
  return fn != nullptr ? fn() : ERR_FAILED;
}

}  // namespace

// Loading the sibling library once may throw (std::call_once): the guard
// turns that into -1, as when the library is absent.
extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_EnablePVK(void) {
  return marlinok::Guarded(ERR_FAILED, [] { return Forward("QM_EnablePVK"); });
}
extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_DisabelPVK(void) {
  return marlinok::Guarded(ERR_FAILED, [] { return Forward("QM_DisabelPVK"); });
}
extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_IsPVKEnabeled(void) {
  return marlinok::Guarded(ERR_FAILED, [] { return Forward("QM_IsPVKEnabeled"); });
}
extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_SetPVKEnabelData(const DataBlob* data) {
  return marlinok::Guarded(ERR_FAILED, [&] {
    DataArgument fn = ResolveHoldfast<DataArgument>("QM_SetPVKEnabelData");
    return fn != nullptr ? fn(data) : ERR_FAILED;
  });
}
