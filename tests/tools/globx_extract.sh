#!/usr/bin/env bash
# globx extract INSTALLER [PATTERN...]: member selection, the current directory by default, -v
# naming kept files; and help texts: one usage line each, the long description once, globx help
# VERB.
set -euo pipefail
cd "$TEST_TMPDIR"
top=$PWD

fail() { echo "FAIL: $*" >&2; exit 1; }
run() {  # run STATUS ARGS...: stdout in out.txt, stderr in err.txt (carriage returns dropped)
    local want=$1 got=0
    shift
    $RUN "$GLOBX" "$@" >"$top/raw.txt" 2>"$top/err.txt" </dev/null || got=$?
    tr -d '\r' <"$top/raw.txt" >"$top/out.txt"
    [[ $got == "$want" ]] || fail "globx $* exited $got, expected $want; stderr: $(cat "$top/err.txt")"
}
tree() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' '); }

mkdir -p src/DATA/OLD src/DOCS
for f in A.EXE DATA/EUROPE.MAP DATA/ASIA.MAP DATA/OLD/EUROPE.MAP DOCS/README.TXT README.TXT; do
    printf '%s' "$f" >"src/$f"
done
$RUN "$GLOBPACK" --stub "$STUB" --exe A.EXE -q src -o set || fail "globpack exited $?"

# Patterns and what they extract.
cases=(
    "DATA/*.MAP"            "DATA/ASIA.MAP DATA/EUROPE.MAP "
    'data\europe.map'       "DATA/EUROPE.MAP "
    "*.TXT"                 "DOCS/README.TXT README.TXT "
    "/README.TXT"           "README.TXT "
    "DATA/OLD"              "DATA/OLD/EUROPE.MAP "
    "**/EUROPE.MAP"         "DATA/EUROPE.MAP DATA/OLD/EUROPE.MAP "
    "A.EXE|DOCS"            "A.EXE DOCS/README.TXT "
)
for ((i = 0; i < ${#cases[@]}; i += 2)); do
    rm -rf out
    IFS='|' read -r -a patterns <<<"${cases[i]}"
    run 0 extract set/SETUP.EXE -d out "${patterns[@]}"
    [[ $(tree out) == "${cases[i + 1]}" ]] || fail "pattern ${cases[i]} extracted: $(tree out)"
    grep -q "^$(($(wc -w <<<"${cases[i + 1]}"))) members" out.txt || fail "pattern ${cases[i]}: summary $(cat out.txt)"
done

# A pattern that matches nothing: named, exit 1; the others still extracted.
rm -rf out
run 1 extract set/SETUP.EXE -d out A.EXE 'NO*.DAT'
grep -q 'globx: NO\*.DAT: no member matches' err.txt || fail "unmatched pattern: $(cat err.txt)"
[[ $(tree out) == "A.EXE " ]] || fail "with an unmatched pattern: $(tree out)"

# Without -d, into the current directory; -v names every kept file on the second run.
mkdir -p here
cd here
run 0 extract ../set/SETUP.EXE
[[ $(tree .) == "A.EXE DATA/ASIA.MAP DATA/EUROPE.MAP DATA/OLD/EUROPE.MAP DOCS/README.TXT README.TXT " ]] ||
    fail "no -d: $(tree .)"
run 0 extract ../set/SETUP.EXE -v DATA
[[ $(grep -c '^kept ' "$top/out.txt") == 3 ]] || fail "-v did not name the 3 kept files: $(cat "$top/out.txt")"
grep -q 'kept .*ASIA.MAP' "$top/out.txt" || fail "-v: $(cat "$top/out.txt")"
cd "$top"

# Help: one usage line per text; the long description in globx --help only; globx help VERB is
# globx VERB --help.
run 0 --help
[[ $(grep -c 'Usage' out.txt) == 1 ]] || fail "globx --help has $(grep -c Usage out.txt) usage lines"
grep -q 'Exit status' out.txt || fail "globx --help lacks the exit status"
cp out.txt main-help.txt
for verb in list test extract; do
    run 0 "$verb" --help
    cp out.txt verb-help.txt
    [[ $(grep -c 'Usage' out.txt) == 1 ]] || fail "globx $verb --help: $(grep -c Usage out.txt) usage lines"
    if grep -q 'Exit status' out.txt; then fail "globx $verb --help repeats the main description"; fi
    run 0 help "$verb"
    cmp -s out.txt verb-help.txt || fail "globx help $verb differs from globx $verb --help"
done
grep -q 'PATTERN' verb-help.txt || fail "extract --help does not describe PATTERN"
run 0 help
cmp -s out.txt main-help.txt || fail "globx help differs from globx --help"
run 1 help frobnicate
grep -q '^globx: help: no verb "frobnicate"' err.txt || fail "help of an unknown verb: $(cat err.txt)"
echo "globx extract: ok"
