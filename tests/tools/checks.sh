# What the tool's shell tests share: `check NAME EXPECTED ACTUAL` counts a
# check and reports a mismatch; `finish LABEL` prints the tally and fails the
# test if any check failed. Sourced, never run.
failures=0
checks=0
check() {  # check NAME EXPECTED ACTUAL
  checks=$((checks + 1))
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected [$2] got [$3]"
    failures=$((failures + 1))
  fi
}
finish() {  # finish LABEL
  echo "$1: $((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
