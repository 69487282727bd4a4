# bash completion for hwregs: its options, its command words and the tests of
# check. Register offsets, DCR numbers and values are numbers of the user's
# choosing and are not completed.

_hwregs() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    # In the tool's order: a shortened word runs the first command it begins.
    local commands=(list read write check mfdcr mtdcr)
    local options=(-i -p -f -u)
    local command='' argument='' letters='' word name i
    local ended=0

    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $ended -eq 0 && $word == -- ]]; then
            ended=1
        elif [[ $ended -eq 0 && $word == -* ]]; then
            letters+=${word#-}
        elif [[ -z $command ]]; then
            command=none
            for name in "${commands[@]}"; do
                if [[ $name == "$word"* ]]; then
                    command=$name
                    break
                fi
            done
        elif [[ -z $argument ]]; then
            argument=$word
        fi
    done

    if [[ $ended -eq 0 && $cur == -* ]]; then
        # Each option once (given alone or bundled, as in -ip); -f and -u
        # exclude each other.
        local offered=() option
        for option in "${options[@]}"; do
            [[ $letters == *"${option#-}"* ]] && continue
            [[ $option == -[fu] && $letters == *[fu]* ]] && continue
            offered+=("$option")
        done
        mapfile -t COMPREPLY < <(compgen -W "${offered[*]}" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${commands[*]}" -- "$cur")
    elif [[ $command == check && -z $argument ]]; then
        mapfile -t COMPREPLY < <(compgen -W "default accppc accipmc" -- "$cur")
    else
        COMPREPLY=()
    fi
}

complete -F _hwregs hwregs
