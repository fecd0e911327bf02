// Process attach on shared-object platforms: the loader runs this before any
// export can be called, as DllMain does on Windows.
#include "core/locks.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() { marlinok::CreateLibraryLocks(); }

}  // namespace
