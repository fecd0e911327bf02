#!/usr/bin/env bash
# Installs what is missing, builds, and shows the token at work.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" >/dev/null
exec "$root/build/tools/marlinok-tool" demo "$@"
