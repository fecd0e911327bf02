// Which platform backends a test program runs on. Tests whose expectations depend on it ask
// here instead of testing compiler macros.
#ifndef MARLINOK_TESTS_SUPPORT_BACKEND_H
#define MARLINOK_TESTS_SUPPORT_BACKEND_H

namespace marlinok::test {

#if defined(MARLINOK_TEST_WIN32_BACKEND)
// advapi32 registry under HKEY_LOCAL_MACHINE, critical sections, GetSystemTime.
inline constexpr bool kWin32Backend = true;
#else
// The SQLite hive, pthread mutexes, clock_gettime.
inline constexpr bool kWin32Backend = false;
#endif

}  // namespace marlinok::test

#endif
