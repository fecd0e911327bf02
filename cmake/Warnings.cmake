# One set of warnings for every target of the project: link marlinok_warnings.
# Warnings stop the build only with MARLINOK_WERROR, which CI and the
# project's scripts turn on; a user's build on a newer compiler keeps going.
option(MARLINOK_WERROR "Treat compiler warnings as errors (CI, developers)" OFF)

add_library(marlinok_warnings INTERFACE)
target_compile_options(marlinok_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wcast-align
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
  # An unroll hint the optimizer cannot honour (clang with UBSan on loops of
  # run-time length) says nothing about the code.
  $<$<COMPILE_LANG_AND_ID:CXX,Clang,AppleClang>:-Wno-pass-failed>
  $<$<BOOL:${MARLINOK_WERROR}>:-Werror>)
