#!/usr/bin/env bash
# marlinok-tool: exit codes, output formats, and digests checked against openssl.
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

head -c 100000 /dev/urandom >"$work/data"
: >"$work/empty"
for f in data empty; do
  expected_md5=$(openssl dgst -md5 -r "$work/$f" | cut -d' ' -f1)
  expected_sha1=$(openssl dgst -sha1 -r "$work/$f" | cut -d' ' -f1)
  check "md5 $f" "MD5   $expected_md5  $work/$f" "$("$tool" digest --md5 "$work/$f")"
  check "sha1 $f" "SHA1  $expected_sha1  $work/$f" "$("$tool" digest --sha1 "$work/$f")"
done

random=$("$tool" random 16)
check "random is 32 hex digits" 1 "$(grep -cE '^[0-9a-f]{32}$' <<<"$random")"
check "random 5" 10 "$("$tool" random 5 | tr -d '\n' | wc -c)"

"$tool" random 17 >/dev/null 2>&1
check "random 17 is a usage error" 64 $?
"$tool" digest "$work/missing" >/dev/null 2>"$work/err"
check "missing file fails" 1 $?
check "one-line error" 1 "$(wc -l <"$work/err")"
"$tool" frobnicate >/dev/null 2>&1
check "unknown command" 64 $?
"$tool" digest --help >/dev/null
check "digest --help" 0 $?
check "--version" 1 "$("$tool" --version | grep -cE '^marlinok-tool [0-9]+\.[0-9]+\.[0-9]+$')"

# Token commands on a hive of this run's own.
export MARLINOK_REGISTRY=$work/hive.db
check "list on a new hive" "" "$("$tool" list)"
check "json list on a new hive" "[]" "$("$tool" list --json)"
"$tool" create alpha && "$tool" create beta
check "create" 0 $?
"$tool" create alpha 2>"$work/err"
check "create twice fails" 1 $?
check "error names the status" 1 "$(grep -c "container 'alpha' already exists.*(ERR_FAILED)" "$work/err")"
check "list" "$(printf 'alpha\tsignature=-\texchange=-\nbeta\tsignature=-\texchange=-')" "$("$tool" list)"
"$tool" create 'bad\name' 2>/dev/null
check "backslash name refused" 1 $?
echo 4321 | "$tool" pin set
check "pin set from stdin" 0 $?
check "login" "PIN accepted" "$("$tool" login 4321)"
"$tool" login 432 2>/dev/null
check "wrong PIN" 1 $?
check "stored PIN has no NUL" "REG_SZ 34333231" "$("$tool" reg get 'Software\Quillmar\SoftContainerSimulator' Passwd)"
"$tool" reg add 'Software\Quillmar\SoftStoreSimulator\My' && "$tool" reg add 'Software\Quillmar\SoftStoreSimulator\CA'
check "stores" "$(printf 'CA\nMy')" "$("$tool" stores)"
"$tool" keystore put kept "$work/data" --password pw && "$tool" keystore get kept "$work/back" --password pw
check "keystore round trip" 0 $?
cmp -s "$work/data" "$work/back"
check "keystore bytes" 0 $?
"$tool" keystore get kept "$work/back" --password pX 2>/dev/null
check "keystore wrong password" 1 $?
"$tool" delete alpha
check "delete" "$(printf 'beta\tsignature=-\texchange=-')" "$("$tool" list)"
# The demo walks the whole token and leaves it as it found it.
"$tool" demo >"$work/demo"
check "demo runs" 0 $?
check "demo steps" 12 "$(grep -cE '^ +[0-9]+\.[0-9]+ ms  ' "$work/demo")"
check "demo verified with OpenSSL" 1 "$(grep -c 'verified it with OpenSSL too' "$work/demo")"
check "demo removed its container" "$(printf 'beta\tsignature=-\texchange=-')" "$("$tool" list)"
"$tool" demo --keep >/dev/null
check "demo --keep" "marlinok-demo signature=2048 exchange=1024" "$("$tool" list | grep demo | tr '\t' ' ')"
"$tool" demo >/dev/null 2>"$work/err"
check "demo refuses an existing container" 1 $?
check "demo says how to remove it" 1 "$(grep -c 'marlinok-tool delete marlinok-demo' "$work/err")"
"$tool" delete marlinok-demo
unset MARLINOK_REGISTRY
check "--registry picks the hive" "beta" "$("$tool" --registry "$work/hive.db" list | cut -f1)"

finish "tools"
