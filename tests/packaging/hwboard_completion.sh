#!/usr/bin/env bash
# The bash completion of hwboard offers what the program itself lists: the
# commands, the options, the settings of config set, the picmg queries and
# the threshold names of its usage text, in its order.
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
commands=$(sed -n '/^Commands:/,/^$/ s/^  \([a-z]*\) .*/\1/p' <<<"$usage" | xargs)
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
settings=$(sed -n '/^Settings of config set:/,$ s/^  \([a-z_]*\).*/\1/p' <<<"$usage" | xargs)
queries=$(sed -n 's/^  picmg .*PICMG: //p' <<<"$usage" | tr -d ,)
thresholds=$(sed -n 's/^  threshold .*(T: \(.*\))$/\1/p' <<<"$usage")
if [ -z "$settings" ] || [ -z "$queries" ] || [ -z "$thresholds" ]; then
    echo "cannot read the settings, picmg queries or thresholds: '$settings' '$queries' '$thresholds'"
    exit 1
fi

expect "get set" hwboard config ''
expect "" hwboard config get ''
expect "$settings" hwboard config set ''
expect "pcie_port_config pcie_mode pcie_hotplug pcie_clock" hwboard config set pc
expect "" hwboard config set pcie_mode ''
expect "$queries" hwboard picmg ''
expect "" hwboard picmg led ''
expect "" hwboard threshold ''
expect "$thresholds" hwboard threshold 'Temp Board' ''
expect "unc uc unr" hwboard --force threshold 12V lnc 1 u
expect "" hwboard threshold 12V unc ''
expect "$thresholds" hwboard threshold -- 12V lnc -1 ''
expect "" hwboard sensor ''
expect "" hwboard -- -

[ "$failed" -eq 0 ] && echo ok
