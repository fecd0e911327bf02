#!/usr/bin/env bash
# The Windows release: a zip of the i686 build's files for callers.
#   scripts/windows-release.sh [BUILD_DIR]     (default build-win32, built by scripts/windows.sh)
# Writes BUILD_DIR/marlinok-VERSION-win32.zip with the stripped marlinok.dll, its import
# library, marlinok.def, the header, marlinok-tool.exe (stripped) and README.txt. The DLL's
# debug information is split off into BUILD_DIR/bin/marlinok.dll.debug, which the stripped DLL
# names in its .gnu_debuglink section. Checks the archive's file list, the stripped DLL's
# exports and its version resource.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-win32}" && pwd)
tools=i686-w64-mingw32
log_name="windows release"
. "$root/scripts/messages.sh"
version=$(sed -n 's/^#define MARLINOK_VERSION "\(.*\)"$/\1/p' "$build/include/marlinok_version.h")
[ -n "$version" ] || fail "no MARLINOK_VERSION in $build/include/marlinok_version.h"
name=marlinok-$version-win32
stage=$build/release/$name
rm -rf "$build/release"
mkdir -p "$stage"

dll=$build/bin/marlinok.dll
[ -f "$dll" ] || fail "$dll is not built"
"$tools-objcopy" --only-keep-debug "$dll" "$dll.debug"
"$tools-objcopy" --strip-debug --strip-unneeded --add-gnu-debuglink="$dll.debug" "$dll" \
  "$stage/marlinok.dll"
"$tools-strip" --strip-all -o "$stage/marlinok-tool.exe" "$build/bin/marlinok-tool.exe"
cp "$build/libmarlinok.dll.a" "$root/include/marlinok.h" "$build/include/marlinok_version.h" \
  "$root/include/marlinok.def" "$stage/"
sed 's/$/\r/' "$build/README.txt" >"$stage/README.txt"

expected="libmarlinok.dll.a
marlinok-tool.exe
marlinok.def
marlinok.dll
marlinok.h
marlinok_version.h
README.txt"
actual=$(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$(LC_ALL=C sort <<<"$expected")" ] || fail "release files: $actual"
"$tools-objdump" -h "$stage/marlinok.dll" | grep -q '\.debug_' && fail "marlinok.dll keeps debug sections"
"$tools-objdump" -h "$stage/marlinok.dll" | grep -q '\.gnu_debuglink' || fail "no .gnu_debuglink"
file "$stage/marlinok.dll" | grep -q 'PE32 executable (DLL).*Intel 80386' || fail "not a PE32 i386 DLL"
bash "$root/scripts/check-pe-exports.sh" "$root/include/marlinok.h" "$root/include/marlinok.def" \
  "$stage/marlinok.dll" >/dev/null || fail "the stripped DLL's exports"
# FileVersion and ProductVersion are UTF-16 strings in the resource.
[ "$(strings -el "$stage/marlinok.dll" | grep -cx "$version")" -ge 2 ] ||
  fail "no version resource $version"
"$tools-objdump" -h "$stage/marlinok.dll" | grep -q '\.rsrc' || fail "no .rsrc section"
# The library takes six DES and RC4 functions of the static libcrypto; a call
# that links OpenSSL's initialisation brings most of libcrypto (3.7 MB) along.
dll_bytes=$(stat -c %s "$stage/marlinok.dll")
[ "$dll_bytes" -le 1048576 ] ||
  fail "the stripped marlinok.dll has $dll_bytes bytes (over 1 MiB: what links more of libcrypto?)"
say "stripped marlinok.dll: $dll_bytes bytes"

rm -f "$build/$name.zip"
(cd "$build/release" && zip -q -r -X "$build/$name.zip" "$name")
say "$build/$name.zip ($(du -k "$build/$name.zip" | cut -f1) KiB):"
unzip -l "$build/$name.zip" | sed 's/^/    /'
