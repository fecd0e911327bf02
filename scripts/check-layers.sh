#!/usr/bin/env bash
# Checks that every file under src/ includes only its own layer and the
# layers it is allowed to build on (docs/architecture.md keeps the same
# table; the public header marlinok.h may be included anywhere), that the
# exports are all in src/exports, and that no code below them calls one.
# src/pkcs11 (the PKCS #11 module) is a front end beside the exports: it
# builds on the same layers and never includes the exports; nothing includes it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

declare -A allowed=(
  [platform]=""
  [core]="platform"
  [digest]="core"
  [random]="digest core platform"
  [symmetric]="core"
  [store]="core platform"
  [mp]="random core"
  [rsa]="mp random core"
  [keyblob]="rsa core"
  [token]="keyblob rsa mp store symmetric random digest core platform"
  [exports]="token keyblob rsa mp store symmetric random digest core platform"
  [pkcs11]="token keyblob rsa mp store symmetric random digest core platform"
)

status=0
while IFS= read -r file; do
  relative=${file#"$root/src/"}
  layer=${relative%%/*}
  if [ -z "${allowed[$layer]+set}" ]; then
    echo "$relative: the folder src/$layer is not a layer" >&2
    status=1
    continue
  fi
  while IFS= read -r included; do
    [ "$included" = "marlinok.h" ] && continue
    target=${included%%/*}
    [ "$target" = "$layer" ] && continue
    case " ${allowed[$layer]} " in
      *" $target "*) ;;
      *)
        echo "$relative includes $included: $layer may not include $target" >&2
        status=1
        ;;
    esac
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$root/src" -name '*.cpp' -o -name '*.h')

# The exported calls live in src/exports alone, and nothing below them calls one.
while IFS= read -r file; do
  echo "${file#"$root/"}: an export outside src/exports" >&2
  status=1
done < <(grep -rl 'MARLINOK_CALL' "$root/src" | grep -v "^$root/src/exports/" || true)
while IFS= read -r line; do
  echo "${line#"$root/"}: an export called below src/exports" >&2
  status=1
done < <(grep -rnE '\bQMC?A?_[A-Za-z]+ *\(' "$root/src" | grep -v "^$root/src/exports/" || true)

if [ "$status" -eq 0 ]; then echo "layers: every include goes down; the exports stand alone"; fi
exit "$status"
