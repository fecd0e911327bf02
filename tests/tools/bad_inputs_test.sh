#!/usr/bin/env bash
# Two bad inputs for every command: each fails with the documented exit code
# and exactly one line on stderr (usage errors: the line and the usage).
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
failures=0
checks=0
# expect EXIT ARGS... : the run fails with EXIT and says why in one line.
expect() {
  local code=$1
  shift
  checks=$((checks + 1))
  "$tool" "$@" >/dev/null 2>"$work/err" </dev/null
  local got=$?
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
echo "bad inputs: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
