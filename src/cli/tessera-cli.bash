# bash completion for tessera-cli
#
# The bash-completion package loads this file when tessera-cli is first
# completed, and lends it its helpers. Without that package, source the file
# (from ~/.bashrc, say): it completes the same with bash's own means.

# The words of the command line, the word being completed and the one before
# it. bash cuts "=" out as a word of its own: --output=FILE is taken as
# --output FILE.
_tessera_cli_words()
{
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${words[cword]}
    prev=${words[cword - 1]}
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = && $cword -ge 2 ]]; then
        prev=${words[cword - 2]}
    fi
}

# File names for the word being completed: -d for folders only; an extension
# for the files that end in it, and the folders on the way to them.
_tessera_cli_files()
{
    if declare -F _filedir >/dev/null; then
        _filedir "$@"
        return
    fi
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    if [[ $1 == -d ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
    elif [[ -n $1 ]]; then
        COMPREPLY=($(compgen -f -X "!*.$1" -- "$cur") $(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

_tessera_cli()
{
    local cur prev words cword split=false
    if declare -F _init_completion >/dev/null; then
        _init_completion -s || return
    else
        _tessera_cli_words
    fi
    # bash cuts ":" out as a word of its own too: right after the ":" of
    # OFFSET:SIZE, the value's second half is next.
    [[ $cur == : ]] && prev=: cur=

    local commands="plan split join verify repair"
    local tools="--extract --range --size --pieces --at --hex --sjis --plan --snap"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            plan|split|join|verify|repair) command=${words[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands help --help --version" -- "$cur"))
        return
    fi

    case $prev in
        --into)
            _tessera_cli_files -d
            return ;;
        --plan|-o|--output|--series|--name)
            _tessera_cli_files
            return ;;
        # A command of the user's own.
        --filter)
            return ;;
        --check)
            _tessera_cli_files sha256
            return ;;
        --extract|--range|--size|--pieces|--at|--hex|--sjis|--snap)
            return ;;
        # A percentage or lost parts, the grain, and the second half of
        # OFFSET:SIZE or START:END.
        --recovery|--slices|--slice-size|:)
            return ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        local options
        case $command in
            plan) options="$tools --json --help" ;;
            split) options="$tools --checksum --recovery --slices --slice-size --into --force --after-existing --resume --filter --name --pace --sync --quiet --help" ;;
            join) options="--output --force --series --check --no-check --pace --sync --quiet --help" ;;
            verify) options="--quiet --help" ;;
            repair) options="--quiet --help" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        verify) _tessera_cli_files sha256 ;;
        repair) _tessera_cli_files par2 ;;
        *) _tessera_cli_files ;;
    esac
} &&
    complete -F _tessera_cli tessera-cli
