#!/usr/bin/env bash
# The installed marlinok, as another project and a Debian machine see it:
#   1. `cmake --install` of the normal build into a staging prefix: the exact
#      file list, the SONAME and its links, no test or benchmark;
#   2. examples/consumer built against the staging tree twice, with
#      find_package(marlinok) and with pkg-config, and run;
#   3. `cpack -G DEB` of a build for /usr: its dependencies and files (the same
#      as a DESTDIR install), then dpkg -i, marlinok-tool --version and demo on
#      a throwaway hive, p11-kit finding the PKCS #11 module, the man page
#      rendered, then removed (dpkg -r, and
#      -P for dpkg's own record of it) and nothing left.
# Step 3 needs root (or sudo -n); without it, it is skipped with a loud message.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${MARLINOK_JOBS:-2}
"$root/scripts/install-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log_name="package"
. "$root/scripts/messages.sh"
version=$(sed -n 's/^project(marlinok VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"

# ---- 1. staging install -------------------------------------------------------
build=$root/build
say "building $build"
"$root/scripts/build.sh" "$build" >/dev/null
stage=$work/stage
cmake --install "$build" --prefix "$stage" >/dev/null
expected="bin/marlinok-tool
include/marlinok.h
include/marlinok_version.h
lib/cmake/marlinok/marlinokConfig.cmake
lib/cmake/marlinok/marlinokConfigVersion.cmake
lib/cmake/marlinok/marlinokTargets-relwithdebinfo.cmake
lib/cmake/marlinok/marlinokTargets.cmake
lib/libmarlinok.so
lib/libmarlinok.so.0
lib/libmarlinok.so.$version
lib/pkcs11/libmarlinok-pkcs11.so
lib/pkgconfig/marlinok.pc
share/bash-completion/completions/marlinok-tool
share/man/man1/marlinok-tool.1
share/p11-kit/modules/marlinok.module"
actual=$(cd "$stage" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "staging file list differs:
$(diff <(echo "$expected") <(echo "$actual") || true)"
[ "$(readlink "$stage/lib/libmarlinok.so")" = libmarlinok.so.0 ] || fail "libmarlinok.so link"
[ "$(readlink "$stage/lib/libmarlinok.so.0")" = "libmarlinok.so.$version" ] ||
  fail "libmarlinok.so.0 link"
objdump -p "$stage/lib/libmarlinok.so.$version" >"$work/objdump.txt"
grep -q 'SONAME *libmarlinok\.so\.0$' "$work/objdump.txt" || fail "no SONAME libmarlinok.so.0"
[ "$("$stage/bin/marlinok-tool" --version)" = "marlinok-tool $version" ] ||
  fail "staged marlinok-tool --version"
grep -q "^Version: $version\$" "$stage/lib/pkgconfig/marlinok.pc" || fail "marlinok.pc version"
[ "$(cat "$stage/share/p11-kit/modules/marlinok.module")" = "# marlinok's PKCS #11 module, for p11-kit
module: $stage/lib/pkcs11/libmarlinok-pkcs11.so" ] || fail "marlinok.module does not name the staged module"
[ "$("$stage/bin/marlinok-tool" pkcs11 path)" = "$stage/lib/pkcs11/libmarlinok-pkcs11.so" ] ||
  fail "staged marlinok-tool pkcs11 path"
say "staging install: $(wc -l <<<"$actual") files, as expected"

# ---- 2. a project of its own against the staging tree --------------------------
export MARLINOK_REGISTRY=$work/consumer-hive/hive.db
mkdir -m 700 "$work/consumer-hive"
cmake -S "$root/examples/consumer" -B "$work/consumer-cmake" -G Ninja \
  -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/consumer-cmake" >/dev/null
"$work/consumer-cmake/consumer" | grep -q "^marlinok $version " || fail "consumer (find_package)"
say "consumer built with find_package(marlinok) runs"
export PKG_CONFIG_PATH=$stage/lib/pkgconfig
[ "$(pkg-config --modversion marlinok)" = "$version" ] || fail "pkg-config --modversion"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror -o "$work/consumer-pc" "$root/examples/consumer/consumer.c" \
  $(pkg-config --cflags --libs marlinok)
LD_LIBRARY_PATH=$stage/lib "$work/consumer-pc" | grep -q "^marlinok $version " ||
  fail "consumer (pkg-config)"
say "consumer built with pkg-config runs"
unset PKG_CONFIG_PATH MARLINOK_REGISTRY

# ---- 3. the Debian package -----------------------------------------------------
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if sudo -n true 2>/dev/null; then
    sudo="sudo -n"
  else
    printf '!!! PACKAGE STAGE: dpkg -i SKIPPED: neither root nor sudo -n\n' >&2
    exit 0
  fi
fi
if dpkg-query -W marlinok >/dev/null 2>&1; then
  fail "a marlinok package is installed already: this test would replace it"
fi
deb_build=$root/build-deb
say "building $deb_build for /usr"
cmake -S "$root" -B "$deb_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLINOK_WERROR=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DMARLINOK_BUILD_TESTS=OFF -DMARLINOK_BUILD_BENCH=OFF >/dev/null
cmake --build "$deb_build" -j"$jobs" >/dev/null
(cd "$deb_build" && cpack -G DEB >/dev/null)
deb=$(ls "$deb_build"/marlinok_"$version"_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
say "$(basename "$deb"): Depends: $depends"
for needed in libssl3 libsqlite3-0 libc6; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done
# The package holds what a DESTDIR install of the same build puts in place.
DESTDIR=$work/destdir cmake --install "$deb_build" >/dev/null
from_destdir=$(cd "$work/destdir" && find . \( -type f -o -type l \) | sed 's|^\.||' | LC_ALL=C sort)
from_deb=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\.||' | LC_ALL=C sort)
[ "$from_deb" = "$from_destdir" ] || fail "package and DESTDIR install differ:
$(diff <(echo "$from_destdir") <(echo "$from_deb") || true)"
grep -qx /usr/share/man/man1/marlinok-tool.1.gz <<<"$from_deb" ||
  grep -qx /usr/share/man/man1/marlinok-tool.1 <<<"$from_deb" || fail "no man page in the package"

$sudo dpkg -i "$deb" >/dev/null
removed=0
remove() {
  [ "$removed" -eq 1 ] && return 0
  removed=1
  $sudo dpkg -r marlinok >/dev/null && $sudo dpkg -P marlinok >/dev/null
}
trap 'remove; rm -rf "$work"' EXIT
[ "$(/usr/bin/marlinok-tool --version)" = "marlinok-tool $version" ] || fail "installed --version"
library=$(ldd /usr/bin/marlinok-tool | awk '$1 == "libmarlinok.so.0" {print $3}')
[ "$(realpath "$library")" = "$(realpath "$(dpkg -L marlinok | grep '/libmarlinok\.so\.0$')")" ] ||
  fail "installed marlinok-tool uses ${library:-no libmarlinok.so.0}, not the package's"
mkdir -m 700 "$work/hive"
MARLINOK_REGISTRY=$work/hive/hive.db /usr/bin/marlinok-tool demo >"$work/demo.log" 2>&1 ||
  fail "installed marlinok-tool demo:
$(cat "$work/demo.log")"
grep -q "removed container 'marlinok-demo'" "$work/demo.log" || fail "demo did not finish"
say "installed marlinok-tool demo ran on $work/hive"
# p11-kit finds the module through the package's module file.
module=$(dpkg -L marlinok | grep '/pkcs11/libmarlinok-pkcs11\.so$')
[ "$(/usr/bin/marlinok-tool pkcs11 path)" = "$module" ] || fail "installed marlinok-tool pkcs11 path"
MARLINOK_REGISTRY=$work/hive/hive.db p11-kit list-modules >"$work/p11-kit.txt" 2>&1 ||
  fail "p11-kit list-modules: $(cat "$work/p11-kit.txt")"
grep -qx "marlinok: $module" "$work/p11-kit.txt" || fail "p11-kit does not list the module:
$(cat "$work/p11-kit.txt")"
say "p11-kit list-modules sees $module"
man_page=$(dpkg -L marlinok | grep '/man1/marlinok-tool\.1')
MANWIDTH=80 man -l "$man_page" >"$work/man.txt" 2>"$work/man.err" || fail "man -l fails"
grep -q '^NAME' "$work/man.txt" || fail "man -l does not render"
[ ! -s "$work/man.err" ] || fail "man -l warns: $(cat "$work/man.err")"
bash -c "source $(dpkg -L marlinok | grep '/completions/marlinok-tool$') && complete -p marlinok-tool" \
  >/dev/null || fail "completion does not load"
files=$(dpkg -L marlinok | while read -r f; do [ -d "$f" ] || echo "$f"; done)
remove
for f in $files; do
  if [ -e "$f" ] || [ -L "$f" ]; then fail "$f is left after dpkg -r"; fi
done
! dpkg-query -W marlinok >/dev/null 2>&1 || fail "dpkg still knows marlinok after dpkg -P"
say "dpkg -r and -P left nothing of $(wc -l <<<"$files") files"
say "all checks passed"
