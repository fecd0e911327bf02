#!/usr/bin/env bash
# Runs one Windows program under wine64 (ctest's emulator for the x86-64 build), bounded in
# time. The Wine prefix is the caller's: scripts/windows.sh creates a throwaway one per run.
#
# The program's output goes to files first: helper processes that Wine starts along with a
# program (services, device drivers) inherit its output and outlive it, and a reader of a pipe
# would wait for them. The carriage returns of the Windows text mode are dropped so listings
# parse as on Linux.
set -u
: "${WINEPREFIX:?run the Windows tests through scripts/windows.sh, which creates a Wine prefix}"
export WINEDEBUG=${WINEDEBUG:--all}
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
timeout --kill-after=10 "${MARLINOK_WINE_TIMEOUT:-600}" /usr/lib/wine/wine64 "$@" >"$out" 2>"$err"
status=$?
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
exit "$status"
