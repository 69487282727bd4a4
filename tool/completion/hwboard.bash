# bash completion for hwboard: its options, its command words and the
# actions of config. Addresses, FRU IDs and sensor names are the board's and
# are not completed.

_hwboard() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands=(devid selftest board mezzanine mac options migrate config fru sensors sensor)
    local options=(--json --target --fru --force --help --version)
    local command='' word i
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
        fi
    done

    if [[ $ended -eq 0 && ($prev == --target || $prev == --fru) ]]; then
        COMPREPLY=()
    elif [[ $ended -eq 0 && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${commands[*]}" -- "$cur")
    elif [[ $command == config && $prev == config ]]; then
        mapfile -t COMPREPLY < <(compgen -W "get" -- "$cur")
    else
        COMPREPLY=()
    fi
}

complete -F _hwboard hwboard
