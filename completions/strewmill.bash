# bash completion for strewmill                              -*- shell-script -*-
# Installed as share/bash-completion/completions/strewmill. Works with the
# bash-completion helpers when they are loaded and on plain bash otherwise.

_strewmill_options='--dat-dir --landblocks --region-did --out --throttle-ms
    --verbose --mode --bits --help --version'

# Completes "@path" for `--landblocks @FILE`: directories get a slash and
# leave the cursor in the word, files end it.
_strewmill_list_file()
{
    local path=${1#@} item
    local IFS=$'\n'
    local -a items
    items=($(compgen -f -- "$path"))
    COMPREPLY=()
    for item in "${items[@]}"; do
        if [[ -d $item ]]; then
            COMPREPLY+=("@$(printf '%q' "$item")/")
        else
            COMPREPLY+=("@$(printf '%q' "$item") ")
        fi
    done
    compopt -o nospace 2>/dev/null
}

_strewmill_dirs()
{
    if declare -F _filedir >/dev/null; then
        _filedir -d
    else
        local IFS=$'\n'
        COMPREPLY=($(compgen -d -- "$1"))
        compopt -o filenames 2>/dev/null
    fi
}

_strewmill()
{
    local cur prev split=false
    if declare -F _init_completion >/dev/null; then
        local words cword
        _init_completion -s || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        # `--opt=value`: bash splits the word at '='.
        if [[ $cur == = ]]; then
            prev=${COMP_WORDS[COMP_CWORD-1]}
            cur=
            split=true
        elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
            prev=${COMP_WORDS[COMP_CWORD-2]}
            split=true
        elif [[ $cur == --*=* ]]; then
            prev=${cur%%=*}
            cur=${cur#*=}
            split=true
        fi
    fi

    case $prev in
        --dat-dir | --out)
            _strewmill_dirs "$cur"
            return
            ;;
        --mode)
            COMPREPLY=($(compgen -W 'ace-compat strict' -- "$cur"))
            return
            ;;
        --landblocks)
            [[ $cur == @* ]] && _strewmill_list_file "$cur"
            return
            ;;
        --region-did)
            COMPREPLY=($(compgen -W '0x13000000' -- "$cur"))
            return
            ;;
        --throttle-ms | -h | --help | -V | --version)
            return
            ;;
    esac

    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$_strewmill_options" -- "$cur"))
    fi
}

complete -F _strewmill strewmill
