#!/usr/bin/env bash
# Checks that the public header, the export definition and a built shared
# library agree on the 36 export names, and that the library exports nothing else.
set -euo pipefail
header=$1 def=$2 library=$3

from_header=$(grep -oE 'MARLINOK_CALL (QM|QMCA)_[A-Za-z]+' "$header" | awk '{print $2}' | sort)
from_def=$(awk '/^EXPORTS/{on=1; next} on && NF {print $1}' "$def" | sort)
from_library=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)

fail=0
for pair in "header:$from_header" "definition:$from_def" "library:$from_library"; do
  name=${pair%%:*}
  count=$(printf '%s\n' "${pair#*:}" | grep -c .)
  if [ "$count" -ne 36 ]; then
    echo "$name lists $count names, not 36"
    fail=1
  fi
done
diff <(echo "$from_header") <(echo "$from_def") || { echo "header and definition differ"; fail=1; }
diff <(echo "$from_header") <(echo "$from_library") || { echo "header and library differ"; fail=1; }
[ "$fail" -eq 0 ] && echo "36 exports agree"
exit "$fail"
