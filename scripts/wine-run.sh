#!/usr/bin/env bash
# Runs one Windows program under wine64 (ctest's emulator for the x86-64 build), bounded in
# time. The carriage returns of the Windows text mode are dropped so listings parse as on Linux.
# The Wine prefix is the caller's: scripts/windows.sh creates a throwaway one per run.
set -o pipefail
: "${WINEPREFIX:?run the Windows tests through scripts/windows.sh, which creates a Wine prefix}"
export WINEDEBUG=${WINEDEBUG:--all}
timeout --kill-after=10 "${MARLINOK_WINE_TIMEOUT:-600}" /usr/lib/wine/wine64 "$@" | tr -d '\r'
