# bash completion for tessera-cli

_tessera_cli()
{
    local cur prev words cword
    _init_completion || return

    local commands="plan split join verify repair"
    local tools="--extract --range --size --pieces --at --hex --sjis --plan"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            plan|split|join|verify|repair) command=${words[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    case $prev in
        --into)
            _filedir -d
            return ;;
        --plan|-o|--output|--series)
            _filedir
            return ;;
        --check)
            _filedir sha256
            return ;;
        --extract|--range|--size|--pieces|--at|--hex|--sjis)
            return ;;
    esac

    if [[ $cur == -* ]]; then
        local options
        case $command in
            plan) options="$tools --json --help" ;;
            split) options="$tools --checksum --recovery --into --force --after-existing --pace --sync --quiet --help" ;;
            join) options="--output --force --series --check --no-check --pace --sync --quiet --help" ;;
            verify) options="--quiet --help" ;;
            repair) options="--quiet --help" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        verify) _filedir sha256 ;;
        repair) _filedir par2 ;;
        *) _filedir ;;
    esac
} &&
    complete -F _tessera_cli tessera-cli
