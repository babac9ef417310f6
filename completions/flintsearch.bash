# bash completion for flintsearch                          -*- shell-script -*-
# Options, the one screenshot view, PNG files for --output. Plain bash: it
# needs no helpers from the bash-completion package.
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
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    --width | --height)
        COMPREPLY=()
        return
        ;;
    esac
    case $cur in
    --output=*)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -P "--output=" -- "${cur#--output=}")
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
