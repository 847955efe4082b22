#!/usr/bin/env bash
# The bash completion of carvix, driven the way bash drives it (COMP_WORDS / COMP_CWORD),
# with the two bash-completion helpers it uses replaced by small stand-ins.
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
_init_completion() {
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
}
_filedir() { COMPREPLY=(FILE); }
# The reader list comes from `carvix readers`: the names, not the indented lines on their cards.
carvix() {
    [ "$1" = readers ] &&
        printf 'Carvix Bench 1 00 00\n  card, ATR 3B80, applications: VL\nOther Reader\n  no card\n'
}
# shellcheck disable=SC1090
source "$1"

fail=0
expect() {  # expect "WORDS..." WANTED... : the candidates for the last word include WANTED
    local line=$1
    shift
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _carvix
    local want got=" ${COMPREPLY[*]} "
    for want in "$@"; do
        if [[ $got != *" $want "* ]]; then
            echo "FAILED: '$line' offers [${COMPREPLY[*]}], not $want" >&2
            fail=1
        fi
    done
}
refuse() {  # refuse "WORDS..." UNWANTED...
    local line=$1
    shift
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _carvix
    local bad
    for bad in "$@"; do
        if [[ " ${COMPREPLY[*]} " == *" $bad "* ]]; then
            echo "FAILED: '$line' offers $bad" >&2
            fail=1
        fi
    done
}

expect "carvix " readers read write register unregister contactless certs pki error doctor
expect "carvix re" readers read register
refuse "carvix re" write
expect "carvix read " vl-document zk-variable all --reader --json
expect "carvix read vl-photo " --out --app
refuse "carvix read vl-photo " vl-document
# Values of options are not taken for subcommands.
expect "carvix read --app 5 " all --json
expect "carvix read --reader " 'Carvix\ Bench\ 1\ 00\ 00' 'Other\ Reader'
refuse "carvix read --reader " 'no\ card' 'applications:\ VL'
# --wait takes an optional number: a number is its value, a block name is not.
expect "carvix read --wait 5 " all vl-document
expect "carvix read --wait " all --reader
expect "carvix write " vl-variable zk-variable --respond-with
refuse "carvix write " vl-photo all
expect "carvix contactless " read update
expect "carvix contactless update " --contact-reader --encrypted-key
expect "carvix pki keygen --usage " sign exchange
expect "carvix pki select " sign exchange --out
expect "carvix register " --system --module --browser --addon-id --root
expect "carvix doctor " --json
expect "carvix read --out " FILE
expect "carvix read vl-document " --show-signer --require-trusted
expect "carvix tr" trust
expect "carvix trust " list add remove
expect "carvix trust add " FILE
expect "carvix trust add -" --system
expect "carvix trust remove " --system
[ $fail -eq 0 ] && echo "completion: all checks passed"
exit $fail
