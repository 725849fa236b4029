# What the tool tests share; sourced by them (see cmake/tool-test.sh for their environment). Kept
# out of tests/tools/*.sh, which are the tests themselves.

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }

run_tool() {  # run_tool PROGRAM ARGS...: status in $rc, stdout in $T/out.txt, stderr in $T/err
    local program=$1
    shift
    rc=0
    $RUN "$program" "$@" >"$T/out.txt" 2>"$T/err" </dev/null || rc=$?
}

expect() {  # expect STATUS WHAT: the last run_tool's status
    [[ $rc == "$1" ]] || { cat "$T/err" >&2; fail "$2: exit $rc, not $1"; }
}
