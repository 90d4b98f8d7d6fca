# bash completion for qv840ctl: its commands, its options, and the files and
# ports they take. tests/cli/test_command_docs.cpp runs it against --help.
_qv840ctl() {
    local cur prev words cword
    _init_completion || return
    local commands="ports read write erase read-all write-all erase-all verify restore backup scan check history simulate sheet"
    local line="--timeout-ms --direction --echo --pause-ms --retries --verify --block-reads"
    local options="-h --help --help-all -v --version -p --port -b --baud -a --unit --config --trace --trace-file $line"
    # The command: the first word that is neither an option nor an option's value.
    local i command=
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        -p | --port | -b | --baud | -a | --unit | --config | --trace-file | --timeout-ms | \
            --direction | --echo | --pause-ms | --retries | --block-reads) ((i++)) ;;
        -*) ;;
        *) command=${words[i]}; break ;;
        esac
    done
    case $prev in
    -p | --port)
        COMPREPLY=($(compgen -W "$(qv840ctl ports 2>/dev/null)" -- "$cur"))
        compopt -o default
        return
        ;;
    -b | --baud | --unit | -a | --pause-ms | --late-ms | --retries | --units | --speeds | --timeout-ms | --listen | --site | \
        --count | --crc-errors | --reply-as | --noise | --drop | --seed)
        return
        ;;
    --config)
        _filedir -d
        return
        ;;
    --messages)
        if [[ " ${words[*]} " == *" --units "* ]]; then
            _filedir -d # a line's folder of unit-NN.sav files
        else
            _filedir
        fi
        return
        ;;
    -o | --output | --link | --report | --trace-file)
        _filedir
        return
        ;;
    --direction)
        COMPREPLY=($(compgen -W "rts adapter kernel" -- "$cur"))
        return
        ;;
    --block-reads)
        COMPREPLY=($(compgen -W "off auto on" -- "$cur"))
        return
        ;;
    --echo)
        if [[ $command != simulate ]]; then # the simulated unit's --echo takes no value
            COMPREPLY=($(compgen -W "auto on off" -- "$cur"))
            return
        fi
        ;;
    --paper)
        COMPREPLY=($(compgen -W "a4 letter" -- "$cur"))
        return
        ;;
    esac
    case $command in
    '')
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        ;;
    read | write | erase | erase-all) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$line" -- "$cur")) ;;
    read-all) COMPREPLY=($(compgen -W "-o --output $line" -- "$cur")) ;;
    write-all | verify | restore | sheet)
        if [[ $cur == -* && $command == sheet ]]; then
            COMPREPLY=($(compgen -W "-o --output --paper --site" -- "$cur"))
        elif [[ $cur == -* && ($command == verify || $command == restore) ]]; then
            COMPREPLY=($(compgen -W "--units $line" -- "$cur"))
        elif [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$line" -- "$cur"))
        else
            _filedir '@(sav|csv)'
        fi
        ;;
    backup)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--units $line" -- "$cur"))
        else
            _filedir -d
        fi
        ;;
    history) COMPREPLY=($(compgen -W "--unit --since" -- "$cur")) ;;
    check) COMPREPLY=($(compgen -W "--units --count -o --output --report $line" -- "$cur")) ;;
    scan) COMPREPLY=($(compgen -W "--units --speeds --first -o --output $line" -- "$cur")) ;;
    simulate)
        COMPREPLY=($(compgen -W "--unit --units --baud --messages --link --clear-slot --no-block-reads
            --never-answer --pause-ms --late-ms --garbage --echo --crc-errors --reply-as --twin
            --noise --second-master --drop --seed --listen --rtu-over-tcp" -- "$cur"))
        ;;
    esac
}
complete -F _qv840ctl qv840ctl
