#!/usr/bin/env bash
# The man page and the bash completion written from the tool's command table:
# every command --help lists is in both, the page is well-formed roff, and the
# completion offers commands, options, option values and first operands.
set -uo pipefail
tool=$1 man_page=$2 completion=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected [$2] got [$3]"
    failures=$((failures + 1))
  fi
}

commands=$("$tool" --help | awk 'NR > 2 && NF {print $1}')
check "help lists commands" 20 "$(wc -l <<<"$commands")"
for command in $commands; do
  check "man page has $command" 1 "$(grep -c "^\\\\fB${command}\\\\fR" "$man_page")"
done
check "man page version" 1 "$(grep -c "\"marlinok $("$tool" --version | cut -d' ' -f2)\"" "$man_page")"
if command -v groff >/dev/null; then
  check "roff warnings" "" "$(groff -man -Tutf8 -ww -z "$man_page" 2>&1)"
fi

bash -n "$completion"
check "completion parses" 0 $?
complete_words() {  # complete_words WORD... : what completing the last word offers
  (
    cd "$work" || exit 1
    PATH=$(dirname "$tool"):$PATH
    # shellcheck disable=SC1090
    source "$completion"
    COMP_WORDS=(marlinok-tool "$@")
    COMP_CWORD=$#
    _marlinok_tool
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
  )
}
check "commands" "$(tr '\n' ' ' <<<"$(sort <<<"$commands")")" "$(complete_words '' | sed 's/--[a-z]* //g')"
check "command prefix" "encrypt " "$(complete_words enc)"
check "after --registry" "encrypt " "$(complete_words --registry x.db enc)"
check "global options" "--help --registry --version " "$(complete_words --)"
check "option values" "cbc cfb ecb ofb " "$(complete_words encrypt a --mode '')"
check "format values" "blob pem private-blob " "$(complete_words export a --format '')"
check "options of genkey" "--bits --exchange --exportable --help --signature " "$(complete_words genkey x --)"
check "pin" "check set " "$(complete_words pin '')"
check "pkcs11" "info path " "$(complete_words pkcs11 '')"
check "reg" "add delete dump get keys set " "$(complete_words reg '')"
touch "$work/secret.txt"
check "files" "secret.txt " "$(complete_words digest sec)"
MARLINOK_REGISTRY=$work/hive.db "$tool" create alpha >/dev/null &&
  MARLINOK_REGISTRY=$work/hive.db "$tool" create beta >/dev/null
check "containers" "alpha " "$(MARLINOK_REGISTRY=$work/hive.db complete_words sign al)"
check "containers of --registry" "alpha beta " "$(complete_words --registry "$work/hive.db" delete '')"

[ "$failures" -eq 0 ] || exit 1
echo "docs: all checks passed"
