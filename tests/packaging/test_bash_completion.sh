#!/usr/bin/env bash
# Drives korva's bash completion as bash-completion would for a user typing:
# commands, options, option values, files, and the ports the given korva lists.
#
#   test_bash_completion.sh COMPLETION_FILE KORVA
set -uo pipefail
completion=$1
korva=$2

scratch=$(mktemp -d /tmp/korva-completion-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/sim-a" "$scratch/sim b" "$scratch/image.bin" "$scratch/notes.txt" "$scratch/living-room.json"
export KORVA_EXTRA_PORTS="$scratch/sim-a:$scratch/sim b"

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"
complete -p korva >/dev/null || { echo "FAIL: no completion registered for korva"; exit 1; }

failures=0

# Completes LINE (the cursor at its end; korva stands for $korva) and leaves
# the candidates in the array reply, one per entry.
complete_line() {
    local line=${1/#korva/$korva}
    COMP_LINE=$line
    COMP_POINT=${#line}
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    local prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    _korva "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "$prev"
    reply=("${COMPREPLY[@]}")
}

# expect LINE WORD...: the candidates are exactly these words (in any order).
expect() {
    local line=$1; shift
    complete_line "$line"
    local got want
    got=$(printf '%s\n' "${reply[@]}" | sort | paste -sd' ')
    want=$(printf '%s\n' "$@" | sort | paste -sd' ')
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line' completed to [$got], expected [$want]"
        failures=$((failures + 1))
    fi
}

# expect_has LINE WORD...: these words are among the candidates.
expect_has() {
    local line=$1; shift
    complete_line "$line"
    local w
    for w in "$@"; do
        if ! printf '%s\n' "${reply[@]}" | grep -qxF -- "$w"; then
            echo "FAIL: '$line' did not offer '$w' (got: ${reply[*]})"
            failures=$((failures + 1))
        fi
    done
}

# expect_none_like LINE PATTERN: no candidate matches the grep pattern.
expect_none_like() {
    local line=$1 pattern=$2
    complete_line "$line"
    if printf '%s\n' "${reply[@]}" | grep -q -- "$pattern"; then
        echo "FAIL: '$line' offered something matching '$pattern': ${reply[*]}"
        failures=$((failures + 1))
    fi
}

expect "korva " ports scan detect read write restore update log
expect "korva re" read restore
expect "korva -" --json --help --version
expect "korva --json d" detect
expect "korva detect --family " zvarnelo rulko auto
expect "korva read /dev/x --family r" rulko
expect "korva write --max-devices " 1 8
expect "korva write --gpo " open closed
expect "korva write --led o" on off
expect "korva write --front-restore of" off
expect "korva write --name " 
expect_has "korva write --" --name --pin --no-pin --stereo --mono --max-devices --gpo --led --front-restore --from --family --json
expect "korva ports -" --json --help
expect "korva scan -" --json --help --all --skip

# Every command's options as the program's own help lists them (plus the
# global --json), so completion and program cannot drift apart.
help_options() {
    "$korva" "$@" --help | sed -n '/^Options:/,/^$/p' | grep -oE '^  (-h,)?--[a-z-]+' | sed 's/^  -h,//; s/^  //'
}
commands=$("$korva" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
# shellcheck disable=SC2086
expect "korva " $commands
for command in $commands; do
    # shellcheck disable=SC2046
    expect "korva $command -" --json $(help_options "$command")
done
expect_none_like "korva restore --" '--name'

# Ports: whatever `korva ports` lists now, by name only, spaces kept whole.
expect_has "korva detect " "$scratch/sim-a" "$scratch/sim b"
expect_has "korva log --family rulko " "$scratch/sim-a"
expect_has "korva scan --skip " "$scratch/sim-a" "$scratch/sim b"
expect "korva read $scratch/sim-" "$scratch/sim-a"
expect_none_like "korva detect " '  '
expect_none_like "korva ports " .
# A port that went away is no longer offered.
rm "$scratch/sim-a"
expect_none_like "korva detect " 'sim-a'

# Files where files are wanted: an image for update, a document for --from.
expect "korva write --from $scratch/" "$scratch/living-room.json"
expect_has "korva update $scratch/sim\\ b $scratch/" "$scratch/image.bin"
expect_none_like "korva update $scratch/sim\\ b $scratch/" 'notes.txt'

if ((failures > 0)); then
    echo "bash completion: $failures failure(s)"
    exit 1
fi
echo "bash completion: all cases passed"
