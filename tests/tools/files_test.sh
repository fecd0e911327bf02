#!/usr/bin/env bash
# marlinok-tool's files: inputs of any size are hashed whole and never read
# into memory whole; outputs are complete or absent, secrets 0600.
set -uo pipefail
tool=$1
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/full" 2>/dev/null && umount "$work/full"
  rm -rf "$work"
}
trap cleanup EXIT
export MARLINOK_REGISTRY=$work/hive.db
source "$(dirname "$0")/checks.sh"
hashes() { "$tool" digest "$@" | cut -d' ' -f1-3; }

"$tool" genkey alpha --bits 512 --exportable >/dev/null 2>&1
printf 'attack at dawn' >"$work/msg"
head -c 24 /dev/urandom >"$work/key3"
"$tool" keystore put kept "$work/msg" --password pw

# The token hashes a regular file in one call; a stream is hashed in 1 MiB
# pieces by OpenSSL. Both give the same digests for the same bytes, across
# the piece boundaries.
for size in 0 1 1048575 1048576 1048577 3145733; do
  head -c "$size" /dev/urandom >"$work/sized"
  check "token and stream digests of $size bytes" "$(hashes "$work/sized")" \
    "$(cat "$work/sized" | hashes /dev/stdin)"
done
# A regular file too large for one token call is streamed as well.
head -c 17000000 /dev/urandom >"$work/large"
check "digest of a 17 MB file" "$(openssl dgst -sha1 -r "$work/large" | cut -d' ' -f1)" \
  "$("$tool" digest --sha1 "$work/large" | cut -c7-46)"

# 4 GiB + 16 zero bytes, never written to disk: nothing is cut to 16 bytes.
truncate -s 4294967312 "$work/huge"
head -c 16 /dev/zero >"$work/tail16"
check "digest past 4 GiB" "SHA1  38690f4457abef4d7684abd3490919de40ea5c19  /dev/stdin" \
  "$(head -c 4294967312 /dev/zero | "$tool" digest --sha1 /dev/stdin)"
"$tool" sign alpha "$work/tail16" -o "$work/tail16.sig"
head -c 4294967312 /dev/zero | "$tool" verify alpha /dev/stdin "$work/tail16.sig" >/dev/null 2>&1
check "a signature of the last 16 bytes does not cover 4 GiB + 16" 1 $?
"$tool" encrypt "$work/huge" --rc4 "$work/key3" -o "$work/huge.rc4" 2>"$work/err"
check "one-call cipher refuses 4 GiB + 16" "1 no output" "$? $([ -e "$work/huge.rc4" ] && echo output || echo no output)"
check "and says why" 1 "$(grep -c 'larger than 4294967295 bytes, the most the token ciphers in one call' "$work/err")"
# An endless input runs until stopped, in bounded memory: under a 400 MB
# address-space limit or, for a sanitizer build (whose shadow memory needs far
# more address space), with a resident peak under 100 MB after 2 seconds.
streams() {
  if (ulimit -v 400000 && "$tool" random 1) >/dev/null 2>&1; then
    (ulimit -v 400000 && timeout 2 "$tool" "$@" /dev/zero >/dev/null 2>&1)
    echo $?
    return
  fi
  "$tool" "$@" /dev/zero >/dev/null 2>&1 &
  local pid=$! peak
  sleep 2
  peak=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null)
  kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$peak" ] && [ "$peak" -lt 100000 ] && echo 124 || echo "peak ${peak:-gone} kB"
}
for command in "digest" "sign alpha"; do
  check "$command /dev/zero streams" 124 "$(streams $command)"
done

# Every output is checked to the end: /dev/full and a full file system fail.
outputs=(
  "export alpha -o OUT"
  "export alpha --format blob -o OUT"
  "export alpha --format private-blob -o OUT"
  "sign alpha $work/msg -o OUT"
  "symkey 3des -o OUT"
  "keystore get kept OUT --password pw"
  "encrypt $work/msg --3des $work/key3 -o OUT"
)
for command in "${outputs[@]}"; do
  "$tool" ${command//OUT//dev/full} >/dev/null 2>&1
  check "$command to /dev/full" 1 $?
done
for command in "list" "random 16" "digest $work/msg" "export alpha"; do
  "$tool" $command >/dev/full 2>/dev/null
  check "$command > /dev/full" 1 $?
done
# /dev/stdout is written in place, even when the shell sent it to a file.
"$tool" sign alpha "$work/msg" -o /dev/stdout >"$work/stdout.sig"
check "-o /dev/stdout to a file" 64 "$(wc -c <"$work/stdout.sig")"
if [ "$(id -u)" -eq 0 ] && mkdir "$work/full" && mount -t tmpfs -o size=64k tmpfs "$work/full"; then
  printf 'kept' >"$work/full/out"
  head -c 1M /dev/zero >"$work/full/filler" 2>/dev/null
  for command in "${outputs[@]}"; do
    "$tool" ${command//OUT/$work/full/out} >/dev/null 2>&1
    check "$command on a full disk" "1 kept filler out" \
      "$? $(cat "$work/full/out") $(ls -A "$work/full" | tr '\n' ' ' | sed 's/ $//')"
  done
else
  echo "full-disk checks skipped (they need root for a small tmpfs)"
fi

# Secrets are created 0600 whatever the umask; other outputs follow it.
umask 022
"$tool" encrypt "$work/msg" --3des "$work/key3" -o "$work/msg.3des"
modes=(
  "600 export alpha --format private-blob -o OUT"
  "600 keystore get kept OUT --password pw"
  "600 symkey rc4 -o OUT"
  "644 export alpha -o OUT"
  "644 sign alpha $work/msg -o OUT"
  "600 decrypt $work/msg.3des --3des $work/key3 -o OUT"
)
for entry in "${modes[@]}"; do
  command=${entry#* }
  rm -f "$work/out"
  "$tool" ${command//OUT/$work/out} >/dev/null
  check "$command" "${entry%% *}" "$(stat -c %a "$work/out" 2>&1)"
done
check "decrypted bytes" "attack at dawn" "$(cat "$work/out")"

finish "files"
