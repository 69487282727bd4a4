#!/usr/bin/env bash
# The bash completion of hwboard offers what the program itself lists: the
# commands and the options of its usage text, in its order.
set -uo pipefail
hwboard=$1 completion=$2
# shellcheck source=/dev/null
. "$completion"
failed=0

# expect "offered words" words-of-the-line... (the last one being completed)
expect() {
    local want=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _hwboard
    if [ "${COMPREPLY[*]}" != "$want" ]; then
        echo "'$*<TAB>' offers '${COMPREPLY[*]}', expected '$want'"
        failed=1
    fi
}

usage=$("$hwboard" --help)
commands=$(sed -n '/^Commands:/,$ s/^  \([a-z]*\) .*/\1/p' <<<"$usage" | xargs)
options=$(grep -oE '^  (-h, )?--[a-z]+' <<<"$usage" | sed 's/.*--/--/' | xargs)
if [ -z "$commands" ] || [ -z "$options" ]; then
    echo "cannot read the program's lists: $usage"
    exit 1
fi

expect "$commands" hwboard ''
expect "$options" hwboard -
expect "$commands" hwboard --json --target 0x72 ''
expect "" hwboard --fru ''
expect "sensors sensor" hwboard --json sens
expect "get" hwboard config ''
expect "" hwboard config get ''
expect "" hwboard sensor ''
expect "" hwboard -- -

[ "$failed" -eq 0 ] && echo ok
