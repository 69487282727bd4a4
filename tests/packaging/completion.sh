#!/usr/bin/env bash
# The bash completion of hwregs offers what the program itself lists: the
# commands of its usage text in its order, its options, and the tests of
# check; shortened command words and options after the command are taken as
# the program takes them.
set -uo pipefail
hwregs=$1 completion=$2
# shellcheck source=/dev/null
. "$completion"
failed=0

# words-of-the-line... (the last one being completed): COMPREPLY
complete_line() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _hwregs
}

# expect "offered words" words-of-the-line...
expect() {
    local want=$1
    shift
    complete_line "$@"
    if [ "${COMPREPLY[*]}" != "$want" ]; then
        echo "'$*<TAB>' offers '${COMPREPLY[*]}', expected '$want'"
        failed=1
    fi
}

# -p and -i leave both areas closed: the usage text and the list of tests.
usage=$("$hwregs" -p -i)
commands=$(sed -n '/^Commands:/,$ s/^\t\([a-z]*\)\t.*/\1/p' <<<"$usage" | xargs)
options=$(grep -oE '^'$'\t''-[a-z]' <<<"$usage" | tr -d '\t' | sort | xargs)
tests=$("$hwregs" -p -i check help | grep -oE '^[a-z]+' | xargs)
if [ -z "$commands" ] || [ -z "$options" ] || [ -z "$tests" ]; then
    echo "cannot read the program's lists: $usage"
    exit 1
fi

expect "$commands" hwregs ''
expect "$tests" hwregs check ''
complete_line hwregs -
offered=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
[ "$offered" = "$options" ] || { echo "options offered '$offered', the program's '$options'"; failed=1; }

expect check hwregs ch
expect "mfdcr mtdcr" hwregs m
expect "$tests" hwregs c ''
expect "accppc accipmc" hwregs -i check acc
expect "default" hwregs check -p d
expect "" hwregs check default ''
expect "" hwregs read 0x10 ''
expect "-i -p" hwregs -f -
expect "-f -u" hwregs -ip -
expect "" hwregs -- -

[ "$failed" -eq 0 ] && echo ok
