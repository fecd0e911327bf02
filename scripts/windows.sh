#!/usr/bin/env bash
# The Windows builds, cross-compiled with mingw-w64:
#   build-win32/  i686: marlinok.dll as shipped (PE32), with the tests compiled but not run,
#                 since this machine cannot execute 32-bit code; its export table is checked.
#                 The release zip is made from it: build-win32/marlinok-VERSION-win32.zip
#                 (scripts/windows-release.sh).
#   build-win64/  x86-64: the same sources, whose tests run under wine64 against the Win32
#                 backends (critical sections, GetSystemTime, the advapi32 registry).
# OpenSSL has no mingw package: a static libcrypto is cross-built once from Debian's source and
# kept under ~/.cache/marlinok/ (MARLINOK_CACHE), keyed by version and target.
#
#   scripts/windows.sh               install, build both, check the DLL, run the tests
#   scripts/windows.sh --no-tests    install, build both, check the DLL
# If the toolchain cannot be installed, the stage is skipped with a loud message (exit 0).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${MARLINOK_CACHE:-$HOME/.cache/marlinok}
jobs=${MARLINOK_JOBS:-2}
run_tests=1
[ "${1:-}" = "--no-tests" ] && run_tests=0

log_name=windows
. "$root/scripts/messages.sh"

skip_loudly() {
  local banner='!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!'
  printf '%s\n!!! WINDOWS STAGE SKIPPED: %s\n!!! The DLL was NOT built or checked.\n%s\n' \
    "$banner" "$*" "$banner" >&2
  exit 0
}

# ---- toolchain ----------------------------------------------------------------
install_toolchain() {
  local packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 dpkg-dev
    cmake ninja-build googletest binutils zip unzip file)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  export DEBIAN_FRONTEND=noninteractive
  # Waits for another apt or dpkg run to finish rather than failing on its lock.
  local lock=(-o DPkg::Lock::Timeout=600)
  $sudo apt-get "${lock[@]}" update -qq &&
    $sudo apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

# ---- OpenSSL ------------------------------------------------------------------
# Debian's own source of libcrypto, fetched through a source list and package lists of our own
# so the machine's apt configuration is left as it is.
apt_source_options() {
  local apt=$cache/apt
  mkdir -p "$apt/lists/partial" "$apt/parts"
  echo 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]' \
    'http://deb.debian.org/debian bookworm main' >"$apt/sources.list"
  apt_options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
  mkdir -p "$apt/cache/archives/partial"
}

# The version last built is remembered, so a machine with both libraries cached needs no network.
openssl_source() {
  local remembered=$cache/openssl-version
  if [ -f "$remembered" ]; then
    openssl_version=$(cat "$remembered")
    if [ -f "$cache/openssl-$openssl_version-i686/lib/libcrypto.a" ] &&
      [ -f "$cache/openssl-$openssl_version-x86_64/lib/libcrypto.a" ]; then
      return 0
    fi
  fi
  apt_source_options
  apt-get "${apt_options[@]}" update -qq
  openssl_version=$(apt-cache "${apt_options[@]}" showsrc openssl |
    awk '/^Version:/ {print $2; exit}')
  [ -n "$openssl_version" ] || { echo "no openssl source package found" >&2; return 1; }
  openssl_src=$cache/src/openssl-$openssl_version
  echo "$openssl_version" >"$remembered"
  [ -f "$openssl_src/Configure" ] && return 0
  local work
  work=$(mktemp -d "$cache/src/fetch.XXXXXX")
  (cd "$work" && apt-get "${apt_options[@]}" source -qq "openssl=$openssl_version" >/dev/null)
  local unpacked
  unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -1)
  rm -rf "$openssl_src"
  mv "$unpacked" "$openssl_src"
  rm -rf "$work"
}

# A static libcrypto for one target (i686 or x86_64), installed under the cache. The legacy
# provider is kept and built in (no-module makes it static) so the tests' oracles can reach
# single DES and RC4 through EVP as they do on Linux. Threads stay enabled: the library's calls
# arrive on several threads at once and OpenSSL's run-once and locks must be real.
build_openssl() {
  local target=$1 configure prefix
  case $target in
    i686) configure=mingw ;;
    x86_64) configure=mingw64 ;;
  esac
  prefix=$cache/openssl-$openssl_version-$target
  if [ -f "$prefix/lib/libcrypto.a" ]; then
    say "OpenSSL $openssl_version for $target: cached in $prefix"
    return 0
  fi
  say "cross-building OpenSSL $openssl_version for $target (a few minutes, once per machine)"
  local work=$cache/build/openssl-$openssl_version-$target
  rm -rf "$work" "$prefix"
  mkdir -p "$work"
  cp -a "$openssl_src/." "$work/"
  (
    cd "$work"
    ./Configure "$configure" --cross-compile-prefix="$target-w64-mingw32-" \
      --prefix="$prefix" --libdir=lib no-shared no-asm no-tests no-module no-engine no-dso \
      no-async no-sock no-ui-console >configure.log
    make -j"$jobs" build_libs >build.log 2>&1 || { tail -40 build.log; exit 1; }
    make install_dev >install.log 2>&1 || { tail -40 install.log; exit 1; }
  )
  rm -rf "$work"
}

# ---- the builds ---------------------------------------------------------------
configure_and_build() {
  local target=$1 build=$2
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLINOK_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$target-w64-mingw32.cmake" \
    -DOPENSSL_ROOT_DIR="$cache/openssl-$openssl_version-$target" \
    -DMARLINOK_GTEST_SOURCE_DIR=/usr/src/googletest \
    -DMARLINOK_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j"$jobs"
}

# A throwaway Wine prefix for one test run; removed, with its wineserver, when the run ends.
wine_prefix=""
finish_wine() {
  [ -n "$wine_prefix" ] || return 0
  timeout 60 /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  timeout 60 /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  rm -rf "$wine_prefix"
  wine_prefix=""
}

run_windows_tests() {
  local build=$1
  wine_prefix=$(mktemp -d /tmp/marlinok-wine.XXXXXX)
  trap finish_wine EXIT
  export WINEPREFIX=$wine_prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  export WINEARCH=win64
  say "creating Wine prefix $WINEPREFIX"
  timeout 300 /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  timeout 120 /usr/lib/wine/wineserver -w
  # One wineserver for the whole run rather than one per test program start.
  /usr/lib/wine/wineserver -p
  (cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 900)
  finish_wine
}

main() {
  install_toolchain || skip_loudly "the mingw-w64 / wine64 toolchain could not be installed"
  mkdir -p "$cache/src" "$cache/build"
  openssl_source
  build_openssl i686
  build_openssl x86_64

  say "i686 build (the shipped DLL)"
  configure_and_build i686 "$root/build-win32"
  bash "$root/scripts/check-pe-exports.sh" "$root/include/marlinok.h" \
    "$root/include/marlinok.def" "$root/build-win32/bin/marlinok.dll"
  bash "$root/scripts/windows-release.sh" "$root/build-win32"

  say "x86-64 build (the tests under wine64)"
  configure_and_build x86_64 "$root/build-win64"
  bash "$root/scripts/check-pe-exports.sh" "$root/include/marlinok.h" \
    "$root/include/marlinok.def" "$root/build-win64/bin/marlinok.dll" pe32+
  [ "$run_tests" -eq 1 ] && run_windows_tests "$root/build-win64"
  say "done"
}

main
