#!/usr/bin/env bash
# globx's command line: usage errors exit 1 with one message on stderr; --help and --version
# exit 0 and print on stdout.
set -euo pipefail
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

# expect STATUS ARGS...: runs globx and checks its exit status.
expect() {
    local want=$1 got=0
    shift
    $RUN "$GLOBX" "$@" >out.txt 2>err.txt </dev/null || got=$?
    [[ $got == "$want" ]] || fail "globx $* exited $got, expected $want; stderr: $(cat err.txt)"
}

expect 0 --help
grep -q 'list' out.txt && grep -q 'extract' out.txt || fail "--help does not name the verbs"
expect 0 help list
grep -q 'lastWriteTimeUtc' out.txt || fail "help list does not describe the JSON times"
expect 0 --version
tr -d '\r' <out.txt | grep -Eqx 'globx [0-9]+\.[0-9]+\.[0-9]+' || fail "--version printed '$(cat out.txt)'"
expect 0 extract --help

printf 'MZ' >setup.exe
usage_errors=(
    ""                                          # no verb
    "frobnicate setup.exe"                      # unknown verb
    "list"                                      # no installer
    "list setup.exe --bogus"                    # unknown option
    "list setup.exe --code-page 99999"          # unknown code page
    "list setup.exe --volumes no-such-dir"      # --volumes must be a directory
    "test setup.exe -q -v"                      # quiet and verbose exclude each other
    "list setup.exe extra-argument"
)
for args in "${usage_errors[@]}"; do
    # shellcheck disable=SC2086  # the words are meant to split
    expect 1 $args
    [[ -s err.txt ]] || fail "globx $args: no message on stderr"
    [[ ! -s out.txt ]] || fail "globx $args: usage error printed on stdout: $(cat out.txt)"
    grep -q '^globx: ' err.txt || fail "globx $args: the message lacks the globx: prefix: $(cat err.txt)"
    [[ $(wc -l <err.txt) == 1 ]] || fail "globx $args: more than one line: $(cat err.txt)"
done

expect 1 extract setup.exe -d ""                # an empty -d would make installDir the root
[[ -s err.txt ]] || fail "extract -d '': no message on stderr"

# Code pages by name are accepted; a non-installer is then a damaged archive, not a usage error.
expect 2 list setup.exe --code-page cp437
exit 0
