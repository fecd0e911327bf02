# Cross-compiles for Windows with mingw-w64 (x86_64). The posix thread model of the compiler is
# used for std::thread in the tests; the runtimes are linked statically, so the DLL and the
# programs depend only on DLLs that ship with Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MARLINOK_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MARLINOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MARLINOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MARLINOK_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${MARLINOK_MINGW_TRIPLE}-dlltool)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
