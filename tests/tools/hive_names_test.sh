#!/usr/bin/env bash
# marlinok-tool and the hive: names the token's list cannot carry never break
# `list`, and a hive that cannot be used is reported, never taken for empty.
set -uo pipefail
tool=$1
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/ro" 2>/dev/null && umount "$work/ro"
  rm -rf "$work"
}
trap cleanup EXIT
export MARLINOK_REGISTRY=$work/hive.db
source "$(dirname "$0")/checks.sh"

# Containers the tool would not make, made behind its back.
root='Software\Quillmar\SoftContainerSimulator'
"$tool" create alpha && "$tool" create omega && "$tool" create "$(printf 'caf\351')"
for name in 'x|y' $'tab\there' $'new\nline' "$(printf 'n%.0s' {1..60})"; do
  "$tool" reg add "$root\\$name"
done
check "list keeps every other container" \
  "$(printf 'alpha\tsignature=-\texchange=-\ncaf\351\tsignature=-\texchange=-\nomega\tsignature=-\texchange=-')" \
  "$("$tool" list 2>"$work/err")"
check "and names each one it skipped" 4 "$(grep -c '^marlinok-tool: list: skipped container' "$work/err")"
"$tool" list --json >"$work/json" 2>/dev/null
check "--json is the same containers" \
  '[{"name":"alpha","signature":null,"exchange":null},{"name":"caf\ufffd","signature":null,"exchange":null},{"name":"omega","signature":null,"exchange":null}]' \
  "$(cat "$work/json")"
iconv -f UTF-8 -t UTF-8 "$work/json" >/dev/null 2>&1
check "--json is UTF-8" 0 $?

# Unusable hives: every command that needs one says which and why, and fails.
mkdir "$work/folder"
mkfifo "$work/fifo"
head -c 1000 "$work/hive.db" >"$work/truncated"
hives=("$work/folder" "$work/fifo" "$work/truncated")
cp "$work/hive.db" "$work/unreadable" && chmod 000 "$work/unreadable"
as_other=()
if [ "$(id -u)" -eq 0 ]; then
  # root reads any file: the unreadable hive is tried as nobody, if nobody
  # can run the tool from where it is.
  chmod 755 "$work"
  as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  if "${as_other[@]}" "$tool" --help >/dev/null 2>&1; then
    hives+=("$work/unreadable")
  else
    echo "unreadable-hive check skipped (nobody cannot run $tool)"
  fi
  if mkdir "$work/ro" && mount -t tmpfs -o size=1m tmpfs "$work/ro"; then
    MARLINOK_REGISTRY=$work/ro/hive.db "$tool" create alpha
    mount -o remount,ro "$work/ro" && hives+=("$work/ro/hive.db")
  fi
else
  hives+=("$work/unreadable")
  echo "read-only mount check skipped (it needs root)"
fi
for hive in "${hives[@]}"; do
  for command in "list" "stores" "login 1234" "pin check 1234" "create beta"; do
    runner=()
    [ "$hive" = "$work/unreadable" ] && runner=("${as_other[@]}")
    out=$(MARLINOK_REGISTRY=$hive "${runner[@]}" "$tool" $command 2>"$work/err")
    check "$command on ${hive#$work/}" "1  1" \
      "$? $out $(grep -c "^marlinok-tool: registry $hive: " "$work/err")"
  done
done
check "the folder's reason" "marlinok-tool: registry $work/folder: it is a folder, not a hive file" \
  "$(MARLINOK_REGISTRY=$work/folder "$tool" list 2>&1)"

# An empty hive path is a usage error, and the default hive stays untouched.
export HOME=$work/home
unset XDG_DATA_HOME
MARLINOK_REGISTRY= "$tool" create alpha 2>/dev/null
check "empty MARLINOK_REGISTRY" 64 $?
"$tool" --registry= create alpha 2>/dev/null
check "empty --registry" 64 $?
check "no default hive made" "absent" "$([ -e "$HOME/.local/share/marlinok" ] && echo present || echo absent)"

finish "hive and names"
