# bash completion for flintsearch                          -*- shell-script -*-
# Options, the one screenshot view, PNG files for --output. Plain bash: it
# needs no helpers from the bash-completion package.

# The files whose names start with $2, each with $1 in front. A glob rather
# than compgen -f, whose one name per line would split a name holding a line
# feed into two candidates.
# A leading "~/" stays as typed, as with compgen.
# shellcheck disable=SC2088 # the "~/" is meant literally
_flintsearch_files() {
    local name base=$2 home=
    COMPREPLY=()
    compopt -o filenames 2>/dev/null
    if [[ $base == "~/"* ]]; then
        home=${HOME%/}
        base=$home/${base#"~/"}
    fi
    for name in "$base"*; do
        if [ -e "$name" ] || [ -L "$name" ]; then
            [ -n "$home" ] && name="~/${name#"$home"/}"
            COMPREPLY+=("$1$name")
        fi
    done
}

_flintsearch() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash splits "--output=x" at the "=" (COMP_WORDBREAKS): "--output" "=" "x".
    if [ "$cur" = "=" ]; then
        cur=
    elif [ "$prev" = "=" ] && [ "$COMP_CWORD" -ge 2 ]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    case $prev in
    --screenshot)
        mapfile -t COMPREPLY < <(compgen -W "search" -- "$cur")
        return
        ;;
    --output)
        _flintsearch_files "" "$cur"
        return
        ;;
    --width | --height)
        COMPREPLY=()
        return
        ;;
    esac
    case $cur in
    --output=*)
        _flintsearch_files "--output=" "${cur#--output=}"
        return
        ;;
    --screenshot=*)
        mapfile -t COMPREPLY < <(compgen -W "search" -P "--screenshot=" -- "${cur#--screenshot=}")
        return
        ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "--screenshot --output --width --height -h --help" -- "$cur")
}
complete -F _flintsearch flintsearch
