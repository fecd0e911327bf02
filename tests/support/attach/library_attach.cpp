// Windows test programs link the library's objects rather than marlinok.dll, so no DllMain
// runs in them. Process attach is done here instead, during static initialisation, before
// main() and so before any test can reach a lock. This file is compiled into each test program
// directly.
#include "core/locks.h"

namespace {

[[maybe_unused]] const bool g_attached = (marlinok::CreateLibraryLocks(), true);

}  // namespace
