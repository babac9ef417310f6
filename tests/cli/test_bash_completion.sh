#!/usr/bin/env bash
# Runs the bash completion for command lines as typed up to <TAB> and checks
# what it offers.
#   test_bash_completion.sh COMPLETION_FILE
set -uo pipefail
# shellcheck source=/dev/null
source "$1"
cd "$(mktemp -d)" || exit 1
touch shot.png notes.txt "$(printf 'two\nlines.png')" '$(id).png' '*x'
mkdir shots
failures=0

# complete "WORDS..." EXPECTED: the last word is the one being completed.
check() {
    local expected=$2
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _flintsearch
    local got="${COMPREPLY[*]}"
    if [ "$got" != "$expected" ]; then
        echo "FAIL: '$1<TAB>' offered '$got', expected '$expected'"
        failures=$((failures + 1))
    else
        echo "ok: '$1<TAB>' -> '$got'"
    fi
}

check "flintsearch --scr" "--screenshot"
check "flintsearch --screenshot " "search"
check "flintsearch --screenshot s" "search"
check "flintsearch --screenshot=" "--screenshot=search"
check "flintsearch --screenshot =" "search"      # as bash splits it at "="
check "flintsearch --output = no" "notes.txt"
check "flintsearch --h" "--height --help"
check "flintsearch -" "--screenshot --output --width --height -h --help"
check "flintsearch --output sh" "shot.png shots"
check "flintsearch --output tw" "$(printf 'two\nlines.png')"   # one name, not two
check "flintsearch --output=tw" "--output=$(printf 'two\nlines.png')"
check 'flintsearch --output $(' '$(id).png'
check "flintsearch --output *" "*x"                         # "*" is not a pattern
check "flintsearch --output zz" ""
HOME=$PWD/shots check "flintsearch --output ~/" ""
touch shots/a.png
# The completion offers the text as typed: a literal "~/".
# shellcheck disable=SC2088
HOME=$PWD/shots check "flintsearch --output ~/" "~/a.png"
check "flintsearch --width " ""
[ "$(complete -p flintsearch)" = "complete -F _flintsearch flintsearch" ] || {
    echo "FAIL: not registered for flintsearch"
    failures=$((failures + 1))
}
exit $((failures > 0))
