#!/usr/bin/env bash
# The PKCS #11 module as real applications use it, on a hive and a folder of
# its own: OpenSC's pkcs11-tool, OpenSSL through the pkcs11 engine,
# ssh-keygen -D, p11-kit, and marlinok-tool on the same keys.
#
#   apps_test.sh MODULE TOOL   marlinok's module; TOOL is marlinok-tool, which
#                              sets the PIN and checks that keys cross over
#   apps_test.sh MODULE        any other module (SoftHSMv2's, to try the test
#                              itself): a fresh token is made with softhsm2-util
#
# Every check says what it checks; a failed one prints the command's output.
set -uo pipefail
module=$1
tool=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../tools/checks.sh
source "$(dirname "$0")/../tools/checks.sh"
pin=4711
export HOME=$work/home # p11-kit's user configuration, nothing of the real one
mkdir -p "$HOME/.config/pkcs11/modules"

log=$work/last.log
say() { printf -- '-- %s\n' "$*"; }
# ok NAME COMMAND...: the command exits 0 (its output is in $log).
ok() {
  local name=$1
  shift
  say "$name"
  "$@" >"$log" 2>&1
  local status=$?
  check "$name: exit status of $*" 0 "$status"
  [ "$status" -eq 0 ] || sed 's/^/   | /' "$log"
  return "$status"
}
# refused NAME COMMAND...: the command exits non-zero.
refused() {
  local name=$1
  shift
  say "$name"
  "$@" >"$log" 2>&1
  local status=$?
  check "$name: $* must fail" 1 "$([ "$status" -ne 0 ] && echo 1 || echo 0)"
}
# same NAME EXPECTED ACTUAL, saying what it checks.
same() {
  say "$1"
  check "$@"
}
p11() { pkcs11-tool --module "$module" "$@"; }
p11user() { pkcs11-tool --module "$module" --login --pin "$pin" "$@"; }
# The public key of the object with this id, as PEM.
public_pem() {  # public_pem ID OUT
  p11 --read-object --type pubkey --id "$1" -o "$work/pub.der" >/dev/null 2>&1 &&
    openssl pkey -pubin -inform DER -in "$work/pub.der" -out "$2" 2>/dev/null
}

if [ -n "$tool" ]; then
  export MARLINOK_REGISTRY=$work/hive/registry.db
  mkdir -m 700 "$work/hive"
  # A fresh hive has no token until its first container; the PIN outlives it.
  ok "a token in the fresh hive" "$tool" create setup
  ok "the token's PIN is set with marlinok-tool" "$tool" pin set "$pin"
  ok "the first container goes again" "$tool" delete setup
  softhsm=0
else
  mkdir "$work/tokens"
  export SOFTHSM2_CONF=$work/softhsm2.conf
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
    "$work/tokens" >"$SOFTHSM2_CONF"
  ok "a SoftHSM token" softhsm2-util --init-token --free --label apps --so-pin 9999 --pin "$pin"
  softhsm=1
fi

# ---- pkcs11-tool ---------------------------------------------------------------
ok "pkcs11-tool --list-mechanisms" p11 --list-mechanisms
for mechanism in RSA-PKCS-KEY-PAIR-GEN RSA-PKCS RSA-X-509 SHA1-RSA-PKCS SHA256-RSA-PKCS \
  SHA384-RSA-PKCS SHA512-RSA-PKCS RSA-PKCS-PSS SHA256-RSA-PKCS-PSS RSA-PKCS-OAEP; do
  same "mechanism $mechanism listed" 1 "$(grep -c "^  ${mechanism}[ ,]" "$log")"
done
[ -n "$tool" ] && same "the list says nothing of hardware" 0 "$(grep -c '\<hw\>' "$log")"

ok "pkcs11-tool --list-slots" p11 --list-slots
same "a token is present" 1 "$(grep -q "token label" "$log" && echo 1 || echo 0)"

ok "--keypairgen rsa:2048 with --id 01 and --label alpha" \
  p11user --keypairgen --key-type rsa:2048 --id 01 --label alpha
ok "--list-objects after the key pair" p11user --list-objects
same "a private key labelled alpha" 1 "$(grep -A1 '^Private Key Object; RSA' "$log" | grep -c 'label: *alpha$')"
same "a 2048-bit public key" 1 "$(grep -c '^Public Key Object; RSA 2048 bits' "$log")"
ok "the public key read out" public_pem 01 "$work/alpha.pem"
[ -n "$tool" ] && "$tool" list >"$work/list-alpha" 2>&1
same "its modulus is 2048 bits" "Public-Key: (2048 bit)" \
  "$(openssl pkey -pubin -in "$work/alpha.pem" -noout -text 2>/dev/null | head -1)"

ok "without login, no private key is seen" p11 --list-objects --type privkey
same "no private key object listed" 0 "$(grep -c '^Private Key Object' "$log")"
refused "signing without login is refused" p11 --sign --mechanism SHA256-RSA-PKCS --id 01 \
  -i /dev/null -o "$work/nosig"
refused "a wrong PIN is refused" pkcs11-tool --module "$module" --login --pin 0000 --list-objects

head -c 3000 /dev/urandom >"$work/data"
cp "$work/data" "$work/other"
printf 'x' >>"$work/other"
# mechanism, digest, padding: signatures pkcs11-tool makes, OpenSSL checks.
while read -r mechanism digest padding; do
  sig=$work/sig.$mechanism
  ok "--sign $mechanism" p11user --sign --mechanism "$mechanism" --id 01 -i "$work/data" -o "$sig" &&
    same "$mechanism: a 256-byte signature" 256 "$(wc -c <"$sig")"
  options=(-sigopt "rsa_padding_mode:$padding")
  [ "$padding" = pss ] && options+=(-sigopt rsa_pss_saltlen:auto)
  ok "$mechanism: openssl dgst -$digest -verify accepts it" \
    openssl dgst "-$digest" -verify "$work/alpha.pem" "${options[@]}" -signature "$sig" "$work/data"
  refused "$mechanism: openssl rejects it for other data" \
    openssl dgst "-$digest" -verify "$work/alpha.pem" "${options[@]}" -signature "$sig" "$work/other"
done <<EOF
SHA1-RSA-PKCS sha1 pkcs1
SHA256-RSA-PKCS sha256 pkcs1
SHA384-RSA-PKCS sha384 pkcs1
SHA512-RSA-PKCS sha512 pkcs1
SHA256-RSA-PKCS-PSS sha256 pss
EOF

# pkcs11-tool --verify exits 0 either way: its verdict is in what it prints.
verdict() {  # verdict NAME EXPECTED FILE SIGNATURE [ID]
  ok "$1" p11 --verify --mechanism "${6:-SHA256-RSA-PKCS}" --id "${5:-01}" -i "$3" \
    --signature-file "$4"
  same "$1: pkcs11-tool says" "$2" "$(grep -E -o 'Signature is valid|Invalid signature' "$log")"
}
verdict "--verify of a SHA256-RSA-PKCS signature" "Signature is valid" "$work/data" \
  "$work/sig.SHA256-RSA-PKCS"
verdict "--verify of it for other data" "Invalid signature" "$work/other" \
  "$work/sig.SHA256-RSA-PKCS"
openssl dgst -sha256 -sign /dev/stdin -out "$work/foreign.sig" "$work/data" 2>/dev/null \
  < <(openssl genrsa 2048 2>/dev/null)
verdict "--verify of another key's signature" "Invalid signature" "$work/data" "$work/foreign.sig"

printf 'attack at dawn' >"$work/msg"
ok "openssl pkeyutl encrypts to the public key (PKCS #1)" openssl pkeyutl -encrypt -pubin \
  -inkey "$work/alpha.pem" -in "$work/msg" -out "$work/ct"
ok "--decrypt RSA-PKCS" p11user --decrypt --mechanism RSA-PKCS --id 01 -i "$work/ct" -o "$work/pt"
same "the plaintext comes back" "attack at dawn" "$(cat "$work/pt" 2>/dev/null)"
ok "openssl pkeyutl encrypts to the public key (OAEP, SHA-1)" openssl pkeyutl -encrypt -pubin \
  -inkey "$work/alpha.pem" -pkeyopt rsa_padding_mode:oaep -in "$work/msg" -out "$work/ct-oaep"
ok "--decrypt RSA-PKCS-OAEP" p11user --decrypt --mechanism RSA-PKCS-OAEP --hash-algorithm SHA-1 \
  --mgf MGF1-SHA1 --id 01 -i "$work/ct-oaep" -o "$work/pt-oaep"
same "the OAEP plaintext comes back" "attack at dawn" "$(cat "$work/pt-oaep" 2>/dev/null)"

openssl genrsa -out "$work/imported.pem" 2048 2>/dev/null
openssl pkey -in "$work/imported.pem" -pubout -out "$work/imported.pub.pem"
ok "--write-object of a PEM private key (--id 02, --label imported)" \
  p11user --write-object "$work/imported.pem" --type privkey --id 02 --label imported
ok "--sign SHA256-RSA-PKCS with the written key" p11user --sign --mechanism SHA256-RSA-PKCS \
  --id 02 -i "$work/data" -o "$work/sig-imported"
ok "openssl verifies it with the PEM key's public half" openssl dgst -sha256 -verify \
  "$work/imported.pub.pem" -signature "$work/sig-imported" "$work/data"

ok "--generate-random 64" p11 --generate-random 64 -o "$work/random"
same "64 bytes" 64 "$(wc -c <"$work/random")"

if [ "$softhsm" -eq 1 ]; then
  # SoftHSMv2 refuses OAEP with a label, which --test tries.
  say "SKIPPED on SoftHSM: pkcs11-tool --test --login --allow-sw"
else
  ok "pkcs11-tool --test --login --allow-sw" p11user --test --allow-sw
fi

# ---- OpenSSL through the pkcs11 engine -----------------------------------------
engine=$(find /usr/lib/*/engines-3 /usr/lib/engines-3 -name pkcs11.so 2>/dev/null | head -1)
cat >"$work/openssl.cnf" <<EOF
openssl_conf = openssl_init
[openssl_init]
engines = engine_section
[engine_section]
pkcs11 = pkcs11_section
[pkcs11_section]
engine_id = pkcs11
dynamic_path = $engine
MODULE_PATH = $module
init = 0
[req]
distinguished_name = dn
prompt = no
[dn]
CN = marlinok apps test
EOF
same "the pkcs11 engine is installed" 1 "$([ -n "$engine" ] && echo 1 || echo 0)"
ok "openssl req -x509 with the token key alpha through the engine" \
  env OPENSSL_CONF="$work/openssl.cnf" openssl req -new -x509 -days 7 -sha256 -engine pkcs11 \
  -keyform engine -key "pkcs11:object=alpha;type=private;pin-value=$pin" -out "$work/cert.pem"
ok "plain openssl verify accepts the self-signed certificate" \
  openssl verify -CAfile "$work/cert.pem" "$work/cert.pem"
same "the certificate holds alpha's public key" "$(cat "$work/alpha.pem")" \
  "$(openssl x509 -in "$work/cert.pem" -noout -pubkey 2>/dev/null)"
ok "the same with the module in PKCS11_MODULE_PATH, no openssl.cnf" \
  env PKCS11_MODULE_PATH="$module" openssl req -new -x509 -days 7 -subj /CN=alpha -engine pkcs11 \
  -keyform engine -key "pkcs11:object=alpha;type=private;pin-value=$pin" -out "$work/cert2.pem"
same "that certificate holds alpha's public key" "$(cat "$work/alpha.pem")" \
  "$(openssl x509 -in "$work/cert2.pem" -noout -pubkey 2>/dev/null)"

ok "a certificate signed with RSA-PSS (SHA-256) through the engine" \
  env PKCS11_MODULE_PATH="$module" openssl req -new -x509 -days 7 -subj /CN=pss -sha256 \
  -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32 -engine pkcs11 -keyform engine \
  -key "pkcs11:object=alpha;type=private;pin-value=$pin" -out "$work/pss.pem"
ok "plain openssl verify accepts it" openssl verify -CAfile "$work/pss.pem" "$work/pss.pem"
openssl x509 -in "$work/pss.pem" -noout -text >"$work/pss.txt" 2>&1
same "its signature is RSA-PSS" 1 "$(grep -q '^ *Signature Algorithm: rsassaPss' "$work/pss.txt" &&
  echo 1 || echo 0)"
ok "openssl pkeyutl encrypts to alpha (OAEP, SHA-256)" openssl pkeyutl -encrypt -pubin \
  -inkey "$work/alpha.pem" -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 \
  -in "$work/msg" -out "$work/ct-oaep256"
ok "openssl pkeyutl -decrypt through the engine (OAEP, SHA-256)" \
  env PKCS11_MODULE_PATH="$module" openssl pkeyutl -decrypt -engine pkcs11 -keyform engine \
  -inkey "pkcs11:object=alpha;type=private;pin-value=$pin" -pkeyopt rsa_padding_mode:oaep \
  -pkeyopt rsa_oaep_md:sha256 -in "$work/ct-oaep256" -out "$work/pt-oaep256"
same "the plaintext comes back" "attack at dawn" "$(cat "$work/pt-oaep256" 2>/dev/null)"

ok "openssl x509 converts the certificate to DER" openssl x509 -in "$work/cert.pem" -outform DER \
  -out "$work/cert.der"
ok "--write-object of the certificate beside its key (--id 01)" p11user --write-object \
  "$work/cert.der" --type cert --id 01 --label alpha
ok "--read-object gives the certificate back" p11 --read-object --type cert --id 01 \
  -o "$work/cert-back.der"
same "the same bytes" "$(od -An -tx1 "$work/cert.der")" "$(od -An -tx1 "$work/cert-back.der" 2>/dev/null)"

# ---- ssh-keygen -D --------------------------------------------------------------
ok "ssh-keygen -D lists the token's public keys" ssh-keygen -D "$module"
cp "$log" "$work/ssh-keys"
alpha_ssh=$(ssh-keygen -i -m PKCS8 -f "$work/alpha.pem" | cut -d' ' -f2)
same "alpha is among them" 1 "$(awk '{print $2}' "$work/ssh-keys" | grep -qxF "$alpha_ssh" && echo 1 || echo 0)"

# ---- p11-kit --------------------------------------------------------------------
if [ "$(id -u)" -eq 0 ]; then
  # p11-kit reads no user configuration in a program run as root; the Debian
  # package's test (scripts/package-test.sh) sees the installed module file.
  say "SKIPPED as root: p11-kit list-modules with a module file of the test's own"
else
  printf 'module: %s\n' "$module" >"$HOME/.config/pkcs11/modules/apps-test.module"
  ok "p11-kit list-modules" p11-kit list-modules
  same "p11-kit loads the module from a module file" 1 "$(grep -c "^apps-test: $module\$" "$log")"
fi

# ---- marlinok-tool and the module on one hive ------------------------------------
if [ -n "$tool" ]; then
  ok "marlinok-tool genkey beta --bits 2048" "$tool" genkey beta --bits 2048
  ok "marlinok-tool export beta" "$tool" export beta -o "$work/beta.pem"
  # pkcs11-tool --sign picks its key by --id (a --label alone is not looked at).
  ok "--list-objects shows the tool's key" p11user --list-objects --type privkey
  beta_id=$(awk '/^ *label: *beta$/ {found = 1; next} found && /^ *ID:/ {print $2; exit}' "$log")
  same "the tool's key has a CKA_ID" 1 "$([ -n "$beta_id" ] && echo 1 || echo 0)"
  ok "--sign SHA1-RSA-PKCS with the tool's key (label beta, --id $beta_id)" p11user --sign \
    --mechanism SHA1-RSA-PKCS --id "$beta_id" -i "$work/data" -o "$work/sig-beta"
  ok "openssl verifies it with the tool's export" openssl dgst -sha1 -verify "$work/beta.pem" \
    -signature "$work/sig-beta" "$work/data"
  ok "marlinok-tool verify accepts the module's signature" "$tool" verify beta "$work/data" \
    "$work/sig-beta"

  # The container the module made for alpha: the only one after its --keypairgen.
  line=$(cat "$work/list-alpha")
  same "the module's key pair is one container" 1 "$(grep -c . <<<"$line")"
  container=$(cut -f1 <<<"$line")
  pair=()
  grep -q '	signature=-' <<<"$line" && pair=(--exchange)
  ok "marlinok-tool sign with the module's key (container '$container')" "$tool" sign \
    "$container" "$work/data" "${pair[@]}" -o "$work/sig-tool"
  ok "openssl verifies it with the module's public key" openssl dgst -sha1 -verify \
    "$work/alpha.pem" -signature "$work/sig-tool" "$work/data"
  verdict "--verify SHA1-RSA-PKCS of the tool's signature" "Signature is valid" "$work/data" \
    "$work/sig-tool" 01 SHA1-RSA-PKCS

  # One PIN for both: changed through the module, checked through the 36 calls.
  ok "--change-pin through the module" p11 --login --pin "$pin" --change-pin --new-pin 1357
  ok "marlinok-tool login takes the new PIN" "$tool" login 1357
  refused "marlinok-tool login refuses the old one" "$tool" login "$pin"
  ok "the tool sets it back" "$tool" pin set "$pin"
  ok "and the module takes it" p11user --list-objects

  ok "--delete-object of the written key's private half" p11user --delete-object --type privkey \
    --id 02
  ok "--list-objects after the delete" p11user --list-objects
  same "the written key is gone" 0 "$(grep -c 'label: *imported$' "$log")"
  "$tool" list >"$work/list" 2>&1
  same "so is its container" 2 "$(wc -l <"$work/list")"
fi

finish "pkcs11 applications"
