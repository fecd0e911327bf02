#!/usr/bin/env bash
# marlinok-tool pkcs11: the module's path in the build tree and in the
# installed layout (LIBDIR/pkcs11/ beside the library the tool runs with), and
# the lines it prints work as printed.
#   tool_info_test.sh TOOL MODULE LIBRARY
set -uo pipefail
tool=$1 module=$2 library=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../tools/checks.sh
source "$(dirname "$0")/../tools/checks.sh"
export MARLINOK_REGISTRY=$work/hive/registry.db
mkdir -m 700 "$work/hive"
say() { printf -- '-- %s\n' "$*"; }
same() {
  say "$1"
  check "$@"
}

same "pkcs11 path is the build tree's module" "$(realpath "$module")" \
  "$(realpath "$("$tool" pkcs11 path)")"
"$tool" pkcs11 info >"$work/info"
same "pkcs11 info exits 0" 0 $?
same "pkcs11 alone is pkcs11 info" "$(cat "$work/info")" "$("$tool" pkcs11)"
path=$("$tool" pkcs11 path)
same "the module line" "module:      $path" "$(grep '^module:' "$work/info")"
same "the ssh line" "ssh:         ssh -I $path USER@HOST" "$(grep '^ssh:' "$work/info")"
same "the p11-kit line" 1 "$(grep -c "^p11-kit:     module: $path " "$work/info")"
same "the openssl.cnf line" 1 "$(grep -c "MODULE_PATH = $path\$" "$work/info")"

# The printed lines, run as printed (the PIN added to the engine's key URI).
"$tool" genkey printed --bits 1024 >/dev/null
"$tool" pin set 1234 >/dev/null
line() { sed -n "s/^$1: *//p" "$work/info"; }
eval "$(line ssh-keygen)" >"$work/ssh" 2>&1
same "the ssh-keygen line runs" 0 $?
same "and lists the key" 1 "$(grep -c '^ssh-rsa ' "$work/ssh")"
eval "$(line pkcs11-tool)" >"$work/objects" 2>&1
same "the pkcs11-tool line runs" 0 $?
same "and lists the public key" 1 "$(grep -c '^Public Key Object; RSA 1024 bits' "$work/objects")"
(cd "$work" && eval "$(line openssl | sed 's/LABEL;type=private/printed;type=private;pin-value=1234/;
  s|/CN=NAME|/CN=printed|')") >"$work/openssl" 2>&1
same "the openssl line makes a certificate" 0 $?
same "signed by the key" "$("$tool" export printed)" \
  "$(openssl x509 -in "$work/cert.pem" -noout -pubkey 2>/dev/null)"

# The installed layout: a library elsewhere finds its module in pkcs11/ beside it.
mkdir -p "$work/lib"
cp "$library" "$work/lib/"
LD_LIBRARY_PATH=$work/lib "$tool" pkcs11 path >/dev/null 2>"$work/err"
same "no module beside that library: exit 1" 1 $?
same "and it says where it looked" \
  "marlinok-tool: no PKCS #11 module at $work/lib/pkcs11/libmarlinok-pkcs11.so (not built or not installed)" \
  "$(cat "$work/err")"
mkdir "$work/lib/pkcs11"
cp "$module" "$work/lib/pkcs11/libmarlinok-pkcs11.so"
same "the module beside that library" "$work/lib/pkcs11/libmarlinok-pkcs11.so" \
  "$(LD_LIBRARY_PATH=$work/lib "$tool" pkcs11 path)"

"$tool" pkcs11 nonsense >/dev/null 2>&1
same "an unknown subcommand is a usage error" 64 $?
"$tool" pkcs11 info more >/dev/null 2>&1
same "an extra operand is a usage error" 64 $?

finish "marlinok-tool pkcs11"
