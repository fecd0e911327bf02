#!/usr/bin/env bash
# Checks a Windows build of marlinok.dll against its contract, reading the image with objdump:
#   - a DLL, PE32 for the shipped 32-bit build (PE32+ when the 4th argument is "pe32+");
#   - exactly the 36 exports below, each at its ordinal, under its plain name (no stdcall
#     decoration), 19, 20, 33 and 34 forwarded to Holdfast.dll and every other one code of ours;
#   - the export definition lists the same, each stdcall alias carrying 4 bytes per argument as
#     the public header declares it;
#   - the image imports only DLLs that ship with Windows (the runtimes are linked in).
#   scripts/check-pe-exports.sh include/marlinok.h include/marlinok.def build/bin/marlinok.dll [pe32|pe32+]
set -euo pipefail
header=$1 def=$2 dll=$3 format=${4:-pe32}

# ordinal name arguments ("-" for the forwarders, whose signatures are Holdfast.dll's)
contract='
1 QMCA_EnumCerstoreName 2
2 QMCA_EnumKeyContainerName 2
3 QMCA_ExportPrivateKey 4
4 QMCA_Format 2
5 QMCA_ImportPrivateKey 4
6 QMCA_LockDevice 0
7 QMCA_Login 2
8 QMCA_Logout 0
9 QMCA_SetPin 2
10 QMCA_UnLock 2
11 QM_AsymmetricDecrypt 8
12 QM_AsymmetricEncrypt 8
13 QM_AsymmetricSignData 6
14 QM_AsymmetricVerifySign 6
15 QM_CreateContainer 1
16 QM_DestroyContainer 1
17 QM_DestroyKey 1
18 QM_Digest 5
19 QM_DisabelPVK -
20 QM_EnablePVK -
21 QM_ExportPrivateKey 4
22 QM_ExportPublicKey 2
23 QM_ExportSymmetricKey 4
24 QM_FindContainerAndKeypair 5
25 QM_GenAsymmetricKey 6
26 QM_GenRandom 1
27 QM_GenSymmetricKey 3
28 QM_GetKeyProperty 4
29 QM_GetSupportedAlgId 2
30 QM_ImportPrivateKey 5
31 QM_ImportPublicKey 3
32 QM_ImportSymmetricKey 3
33 QM_IsPVKEnabeled -
34 QM_SetPVKEnabelData -
35 QM_SymmetricEncrypt 9
36 QM_SymmetryDecrypt 9
'
# DLLs every Windows installation has.
system_dlls='kernel32.dll advapi32.dll msvcrt.dll user32.dll gdi32.dll ws2_32.dll crypt32.dll
bcrypt.dll ntdll.dll'

case $format in
  pe32) objdump=i686-w64-mingw32-objdump ;;
  *) objdump=x86_64-w64-mingw32-objdump ;;
esac
command -v "$objdump" >/dev/null || objdump=objdump

fail=0
problem() { echo "FAIL: $*"; fail=1; }

dump=$("$objdump" -p "$dll")

# ---- image kind ----
case $format in
  pe32) magic='(PE32)' ;;
  pe32+) magic='(PE32+)' ;;
  *) echo "unknown format $format"; exit 2 ;;
esac
grep '^Magic' <<<"$dump" | grep -qF "$magic" || problem "$dll is not $magic"
grep -qE '^[[:space:]]+DLL$' <<<"$dump" || problem "$dll is not marked as a DLL"

# ---- export table: "ordinal name" and "ordinal forwarder-target" ----
base=$(awk '/^Export Address Table -- Ordinal Base/ {print $NF; exit}' <<<"$dump")
[ -n "$base" ] || { echo "FAIL: $dll has no export table"; exit 1; }
exported=$(awk -v base="$base" '
  /^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
  on && /^[[:space:]]*$/ {on = 0}
  on { gsub(/[][]/, " "); print $1 + base, $2 }' <<<"$dump" | sort -n)
forwarded=$(awk '
  /^Export Address Table -- Ordinal Base/ {on = 1; next}
  on && /^[[:space:]]*$/ {on = 0}
  on && /Forwarder RVA/ { sub(/.*\+base\[ */, ""); split($0, f, "]"); print f[1] + 0, $NF }' \
  <<<"$dump" | sort -n)

expected_exports=$(awk 'NF {print $1, $2}' <<<"$contract")
expected_forwarded=$(awk '$3 == "-" {print $1, "Holdfast." $2}' <<<"$contract")
diff <(echo "$expected_exports") <(echo "$exported") >/dev/null ||
  { problem "export names/ordinals differ (expected < > image):"; diff <(echo "$expected_exports") <(echo "$exported") || true; }
diff <(echo "$expected_forwarded") <(echo "$forwarded") >/dev/null ||
  { problem "forwarders differ (expected < > image):"; diff <(echo "$expected_forwarded") <(echo "$forwarded") || true; }
grep -q '@' <<<"$exported" && problem "decorated export names: $(grep '@' <<<"$exported" | tr '\n' ' ')"

# ---- export definition ----
def_exports=$(awk '/^EXPORTS/ {on = 1; next}
  on && NF && $1 !~ /^;/ { ord = $NF; sub(/^@/, "", ord); print ord, $1 }' "$def" | sort -n)
diff <(echo "$expected_exports") <(echo "$def_exports") >/dev/null ||
  { problem "definition names/ordinals differ:"; diff <(echo "$expected_exports") <(echo "$def_exports") || true; }
while read -r ordinal name arguments; do
  [ -n "$ordinal" ] || continue
  line=$(awk -v n="$name" '$1 == n' "$def")
  if [ "$arguments" = - ]; then
    grep -qE "= Holdfast\\.$name @$ordinal\$" <<<"$line" || problem "definition: $name is not forwarded to Holdfast.$name"
  else
    grep -qE "= $name@$((arguments * 4)) @$ordinal\$" <<<"$line" ||
      problem "definition: $name should read '$name = $name@$((arguments * 4)) @$ordinal', not '$line'"
  fi
done <<<"$contract"

# ---- public header: argument counts of the stdcall exports ----
declared=$(tr '\n' ' ' <"$header" | grep -oE 'MARLINOK_CALL (QM|QMCA)_[A-Za-z]+\([^)]*\)' |
  sed -E 's/^MARLINOK_CALL ([A-Za-z_]+)\((.*)\)$/\1 \2/' |
  awk '{name = $1; $1 = ""; args = $0; gsub(/^ +| +$/, "", args)
        n = (args == "void" || args == "") ? 0 : gsub(/,/, ",", args) + 1; print name, n}' | sort)
while read -r ordinal name arguments; do
  if [ -z "$ordinal" ] || [ "$arguments" = - ]; then continue; fi
  have=$(awk -v n="$name" '$1 == n {print $2}' <<<"$declared")
  [ "$have" = "$arguments" ] || problem "header: $name takes ${have:-no declaration} arguments, not $arguments"
done <<<"$contract"

# ---- imports ----
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump" | sort -u)
for imported in $imports; do
  grep -qw -- "$imported" <<<"$system_dlls" || problem "$dll imports $imported, which Windows does not ship"
done

if [ "$fail" -eq 0 ]; then
  echo "$(basename "$dll") ($format): 36 exports at their ordinals, 4 forwarders to Holdfast.dll, imports: ${imports//$'\n'/ }"
fi
exit "$fail"
