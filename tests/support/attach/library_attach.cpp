// Test programs link the library's objects rather than the library, so process attach never
// happens in them: no DllMain runs, and a load constructor inside the objects is dropped when
// nothing else of its file is referenced. It is done here instead, during static
// initialisation, before main() and so before any test can reach a lock. This file is compiled
// into each test program directly; an archive would drop it for the same reason.
#include "frame/locks.h"

namespace {

[[maybe_unused]] const bool g_attached = (marlinok::CreateLibraryLocks(), true);

}  // namespace
