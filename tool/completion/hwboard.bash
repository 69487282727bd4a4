# bash completion for hwboard: its options, its command words, the actions
# of config and the keys of config set, the queries of picmg and the names
# of thresholds. Addresses, FRU IDs, sensor names and values are the
# board's and are not completed.

_hwboard() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands=(devid selftest board mezzanine mac options migrate config fru sensors sensor
        threshold picmg)
    local options=(--json --target --fru --force --help --version)
    local settings=(storage_switch pcie_port_config pcie_mode pcie_hotplug pcie_clock boot_cycle
        clock_source clock_driver pll_config ipmb_mode pm_mode flag)
    local command='' word i words=()
    local ended=0

    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $ended -eq 0 && $word == -- ]]; then
            ended=1
        elif [[ $ended -eq 0 && ($word == --target || $word == --fru) ]]; then
            ((i++))
        elif [[ $ended -eq 0 && $word == -* ]]; then
            continue
        elif [[ -z $command ]]; then
            command=$word
        else
            words+=("$word")
        fi
    done

    # words: the arguments before the one being completed
    local n=${#words[@]} offer=''
    if [[ $ended -eq 0 && ($prev == --target || $prev == --fru) ]]; then
        offer=''
    elif [[ $ended -eq 0 && $cur == -* ]]; then
        offer="${options[*]}"
    elif [[ -z $command ]]; then
        offer="${commands[*]}"
    elif [[ $command == config && $n -eq 0 ]]; then
        offer="get set"
    elif [[ $command == config && $n -eq 1 && ${words[0]} == set ]]; then
        offer="${settings[*]}"
    elif [[ $command == picmg && $n -eq 0 ]]; then
        offer="props addr led port amc"
    elif [[ $command == threshold && $n -ge 1 && $((n % 2)) -eq 1 ]]; then
        offer="lnc lc lnr unc uc unr"
    fi
    if [[ -n $offer ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$offer" -- "$cur")
    else
        COMPREPLY=()
    fi
}

complete -F _hwboard hwboard
