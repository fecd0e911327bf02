#!/usr/bin/env bash
# marlinok-tool's RSA commands on a registry of their own: generation,
# signatures over SHA-1 and MD5, PKCS #1 and raw encryption round trips.
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MARLINOK_REGISTRY=$work/registry.db
source "$(dirname "$0")/checks.sh"

"$tool" genkey alpha --bits 768 --exportable >"$work/genkey" 2>/dev/null
check "genkey" 0 $?
check "genkey references" 'public:  Software\Quillmar\SoftContainerSimulator\alpha\PukSig' \
  "$(grep '^public:' "$work/genkey")"
"$tool" genkey alpha --exchange --bits 1001 >/dev/null 2>&1
check "genkey exchange" 0 $?
"$tool" genkey alpha --bits 507 >/dev/null 2>&1
check "genkey 507 is a usage error" 64 $?

head -c 5000 /dev/urandom >"$work/data"
"$tool" sign alpha "$work/data" -o "$work/sig"
check "sign" 0 $?
check "signature length" 96 "$(wc -c <"$work/sig")"
check "verify" "signature OK for '$work/data'" "$("$tool" verify alpha "$work/data" "$work/sig")"
"$tool" verify alpha "$work/data" "$work/sig" --md5 >/dev/null
check "verify with the other digest fails" 1 $?
"$tool" sign alpha "$work/data" --md5 -o "$work/sig5"
"$tool" verify alpha "$work/data" "$work/sig5" --md5 >/dev/null
check "md5 signature" 0 $?
check "hex signature" 192 "$("$tool" sign alpha "$work/data" | tr -d '\n' | wc -c)"

printf 'attack at dawn' >"$work/msg"
"$tool" encrypt alpha "$work/msg" -o "$work/c" >"$work/enc.out"
check "encrypt" 0 $?
check "library lines" "$(printf 'start encrypt.....\nend encrypt.....status=0')" "$(cat "$work/enc.out")"
check "ciphertext length" 126 "$(wc -c <"$work/c")"
"$tool" decrypt alpha "$work/c" -o "$work/p" >/dev/null
check "decrypt" 0 $?
check "round trip" "attack at dawn" "$(cat "$work/p")"
"$tool" encrypt alpha "$work/msg" --raw -o "$work/craw" >/dev/null
"$tool" decrypt alpha "$work/craw" --raw -o "$work/praw" >/dev/null
check "raw round trip" "attack at dawn" "$(tr -d '\0' <"$work/praw")"
"$tool" decrypt alpha "$work/craw" -o "$work/praw" >/dev/null 2>&1
check "raw block is not PKCS #1" 1 $?
"$tool" sign nowhere "$work/data" >/dev/null 2>&1
check "missing container" 1 $?

# Keys in and out: PEM through OpenSSL, and the CryptoAPI blobs.
"$tool" export alpha -o "$work/alpha.pem"
check "export pem" 0 $?
check "pem is 768 bits" "Public-Key: (768 bit)" "$(openssl pkey -pubin -in "$work/alpha.pem" -noout -text | head -1)"
check "public blob header" "06020000002400005253413100030000" "$("$tool" export alpha --format blob | cut -c1-32)"
"$tool" export alpha --format private-blob -o "$work/alpha.blob"
check "private blob size" 452 "$(wc -c <"$work/alpha.blob")"
"$tool" import copy "$work/alpha.blob" >/dev/null
"$tool" export copy --format private-blob -o "$work/copy.blob"
cmp -s "$work/alpha.blob" "$work/copy.blob"
check "private blob round trip" 0 $?
openssl genrsa -out "$work/k.pem" 1024 2>/dev/null
"$tool" import beta "$work/k.pem" --exchange >/dev/null
check "import pem" 0 $?
"$tool" export beta --exchange -o "$work/beta.pem"
check "same public key" "$(openssl pkey -in "$work/k.pem" -pubout)" "$(cat "$work/beta.pem")"
head -c 24 /dev/urandom >"$work/wrap"
"$tool" export alpha --format private-blob --wrap-3des "$work/wrap" -o "$work/wrapped"
check "3DES-wrapped blob size" 456 "$(wc -c <"$work/wrapped")"
"$tool" import bad "$work/alpha.pem" >/dev/null 2>&1
check "a public PEM does not import" 1 $?
"$tool" export nowhere >/dev/null 2>&1
check "export of a missing container" 1 $?

finish "rsa tools"
