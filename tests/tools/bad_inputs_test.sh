#!/usr/bin/env bash
# Bad inputs for every command, and the inputs the tool refuses before the
# token sees them: each fails with the documented exit code and exactly one
# line on stderr (usage errors: the line and the usage).
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MARLINOK_REGISTRY=$work/hive.db
"$tool" create alpha && "$tool" genkey alpha --bits 512 >/dev/null 2>&1
echo 1234 | "$tool" pin set
printf 'not a key blob' >"$work/garbage"
printf 'data' >"$work/data"
head -c 24 /dev/urandom >"$work/key3"
: >"$work/stdin"
failures=0
checks=0
# expect EXIT ARGS... : the run fails with EXIT and says why in one line.
# Standard input is empty, or what `given` put there for the next run.
given() { printf "$1" >"$work/stdin"; }
expect() {
  local code=$1
  shift
  checks=$((checks + 1))
  "$tool" "$@" >/dev/null 2>"$work/err" <"$work/stdin"
  local got=$?
  : >"$work/stdin"
  local lines
  lines=$(grep -c . "$work/err")
  if [ "$got" -ne "$code" ] || { [ "$code" -eq 1 ] && [ "$lines" -ne 1 ]; } ||
    ! head -1 "$work/err" | grep -q '^marlinok-tool'; then
    echo "FAIL [$*]: exit $got (want $code), stderr: $(head -3 "$work/err")"
    failures=$((failures + 1))
  fi
}
expect 1 create alpha                      # exists already
expect 1 create 'a\b'                       # not a container name
expect 1 delete nowhere                     # missing container
expect 64 delete                            # no name
expect 1 genkey 'a\b' --bits 512          # a name the token refuses
expect 64 genkey alpha --bits 4096          # out of range
expect 1 sign nowhere "$work/data"          # missing container
expect 1 sign alpha "$work/missing"         # unreadable file
expect 1 verify alpha "$work/data" "$work/garbage"   # not a signature of the data
expect 1 verify nowhere "$work/data" "$work/garbage" # missing container
expect 1 encrypt nowhere "$work/data"       # missing container
expect 1 encrypt "$work/data" --3des "$work/missing" # unreadable key file
expect 1 decrypt alpha "$work/garbage" --signature   # not a type-2 block
expect 1 decrypt "$work/garbage" --3des "$work/key3" # not a multiple of 8
expect 1 export nowhere                     # missing container
expect 64 export alpha --format bogus       # unknown format
expect 1 import beta "$work/garbage"        # corrupt blob
expect 1 import beta "$work/missing"        # unreadable file
expect 1 login 9999                         # wrong PIN
expect 64 login 1 2                         # too many arguments
expect 64 pin frobnicate 1                  # unknown subcommand
expect 1 keystore get none "$work/out" --password x  # unknown entry
expect 64 keystore put x "$work/data"       # no password
expect 64 stores extra                      # no arguments expected
expect 64 symkey des                        # not a generated algorithm
expect 64 symkey rc4 --length 99            # too long
expect 1 digest "$work/missing"             # unreadable file
expect 64 digest                            # no file
expect 64 random 17                         # over 16
expect 64 random x                          # not a number
expect 2 reg get 'Software\Nothing' Value   # missing key
expect 64 reg frobnicate                    # unknown subcommand
expect 64 list --bogus                      # unknown option
expect 64 demo --bogus                      # unknown option

# Files of the wrong kind or length are refused before the token sees them.
mkdir "$work/dir"
for args in "digest DIR" "sign alpha DIR" "verify alpha DIR $work/data" "verify alpha $work/data DIR" \
  "encrypt alpha DIR" "decrypt alpha DIR" "encrypt DIR --rc4 $work/key3" \
  "encrypt $work/data --3des DIR" "import beta DIR" "keystore put x DIR --password p" \
  "export alpha --format private-blob --wrap-rc4 DIR"; do
  expect 1 ${args//DIR/$work/dir}
done
key() { head -c "$1" /dev/urandom >"$work/key$1"; echo "$work/key$1"; }
for args in "--3des 1" "--3des 23" "--3des 25" "--des 1" "--des 7" "--rc4 257"; do
  expect 1 encrypt "$work/data" ${args% *} "$(key ${args#* })"
done
expect 1 export alpha --format private-blob --wrap-3des "$(key 1)"
for args in "--3des 16" "--3des 24" "--des 8" "--rc4 1" "--rc4 256"; do
  checks=$((checks + 1))
  if ! "$tool" encrypt "$work/data" ${args% *} "$(key ${args#* })" -o "$work/c"; then
    echo "FAIL [$args]: a key of this length is refused"
    failures=$((failures + 1))
  fi
done

# Loose inputs the token would take, or cut, are refused.
"$tool" genkey gamma --bits 512 --exportable >/dev/null 2>&1
"$tool" export gamma --format private-blob -o "$work/gamma.blob"
"$tool" sign alpha "$work/data" -o "$work/sig"
{ printf 'XX'; cat "$work/sig"; } >"$work/sig+2"
expect 1 verify alpha "$work/data" "$work/sig+2"   # garbage before the signature
expect 1 pin set ''                                 # empty
given '12\n34\n' && expect 1 pin set              # two lines: the second would be lost
given '12\00034\n' && expect 1 pin set            # NUL: cut by the C string
expect 1 pin set $'12\n34'                         # no line of stdin would ever match
patched() {  # patched OFFSET BYTES: the good blob with BYTES written at OFFSET
  cp "$work/gamma.blob" "$work/patched"
  printf "$2" | dd of="$work/patched" bs=1 seek="$1" conv=notrunc 2>/dev/null
  echo "$work/patched"
}
expect 1 import beta "$(patched 0 '\006')"              # a PUBLICKEYBLOB type
expect 1 import beta "$(patched 1 '\003')"              # version 3
expect 1 import beta "$(patched 4 '\003\146')"          # 3DES algorithm
expect 1 import beta "$(patched 8 'RSA1')"              # public-key magic
expect 1 import beta "$(patched 12 '\000\000')"         # bit length 0
expect 1 export alpha --format private-blob           # generated without --exportable
expect 1 create 'x|y'                                 # '|' separates the token's lists
expect 1 create $'tab\there'                          # forges list lines
expect 1 create "$(printf 'n%.0s' {1..50})"           # 50 bytes end the token's list
expect 64 --registry '' list                          # never the default hive
MARLINOK_REGISTRY= expect 64 list

echo "bad inputs: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
