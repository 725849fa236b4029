#!/usr/bin/env bash
# globpack's options and exit statuses: 0 done, 1 bad options, 2 refused input; --config with the
# command line winning; the header texts land in their fields.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }

run() {  # run ARGS...: status in $rc, stdout in $T/out.txt, stderr in $T/err
    rc=0
    $RUN "$GLOBPACK" "$@" >"$T/out.txt" 2>"$T/err" || rc=$?
}

expect() {  # expect STATUS WHAT
    [[ $rc == "$1" ]] || { cat "$T/err" >&2; fail "$2: exit $rc, not $1"; }
}

# Header field $2 (0 programName ... 5 exeName) of installer $1 up to its NUL.
field() {
    local stub_size
    stub_size=$(stat -c %s "$STUB")
    dd if="$1" bs=1 skip=$((stub_size + 1 + 64 * $2)) count=64 status=none | tr '\0' '\n' | head -n 1
}

src=$T/src
mkdir -p "$src"
printf 'program' >"$src/ATLAS.EXE"

run --version
expect 0 "--version"
grep -Eq '^globpack [0-9]+\.[0-9]+\.[0-9]+' "$T/out.txt" || fail "--version printed: $(cat "$T/out.txt")"

run --help
expect 0 "--help"
for word in SOURCE_DIR --stub --code-page --verify "symbolic links" FIFOs SOURCE_DATE_EPOCH; do
    grep -q -- "$word" "$T/out.txt" || fail "--help does not mention $word"
done

for args in "" "$src" "-o $T/x" "$src -o $T/x --no-such-option" "$src -o $T/x -q -v" \
            "$src -o $T/x --code-page klingon" "$src -o $T/x --config $T/missing.toml"; do
    run $args
    expect 1 "globpack $args"
    [[ $(wc -l <"$T/err") -ge 1 ]] && grep -q "^globpack: " "$T/err" || fail "$args: no error line"
    [[ ! -e $T/x ]] || fail "$args: wrote $T/x"
done
grep -q "klingon" <($RUN "$GLOBPACK" "$src" -o "$T/x" --code-page klingon 2>&1) ||
    fail "the code page error does not name the value"

run "$T/no-such-dir" -o "$T/x" --stub "$STUB"
expect 1 "missing SOURCE_DIR"

run "$src" -o "$src/out" --stub "$STUB"
expect 1 "OUT_DIR inside SOURCE_DIR"
grep -q "inside" "$T/err" || fail "no reason for OUT_DIR inside SOURCE_DIR: $(cat "$T/err")"
[[ ! -e $src/out ]] || fail "wrote into SOURCE_DIR"

run "$src" -o "$T/x" --stub "$T/no-stub.exe"
expect 2 "missing stub"
grep -q -- "--stub" "$T/err" || fail "the missing-stub error does not name the fix: $(cat "$T/err")"
[[ ! -e $T/x ]] || fail "a missing stub still wrote $T/x"

# --config supplies options; the command line overrides them.
cat >"$T/atlas.toml" <<'EOF'
name = "Vornhelm Atlas"
caption = "From the config"
subtitle = "Maps for every desk"
default-dir = 'C:\ATLAS'
version-text = "2.1"
exe = "ATLAS.EXE"
EOF
run "$src" -o "$T/cfg" --stub "$STUB" --config "$T/atlas.toml" --caption "Vornhelm Atlas Setup" -q
expect 0 "--config"
[[ ! -s $T/out.txt ]] || fail "-q still printed: $(cat "$T/out.txt")"
got=()
for i in 0 1 2 3 4 5; do got+=("$(field "$T/cfg/SETUP.EXE" $i)"); done
want=("Vornhelm Atlas" "Vornhelm Atlas Setup" "Maps for every desk" 'C:\ATLAS' "2.1" "ATLAS.EXE")
for i in 0 1 2 3 4 5; do
    [[ ${got[i]} == "${want[i]}" ]] || fail "header field $i is '${got[i]}', not '${want[i]}'"
done

# Defaults come from SOURCE_DIR's name; texts are stored in the chosen code page.
run "$src" -o "$T/def" --stub "$STUB" --exe ATLAS.EXE --subtitle $'Caf\xc3\xa9' --code-page 850 -q
expect 0 "defaults"
[[ $(field "$T/def/SETUP.EXE" 0) == src ]] || fail "default name: $(field "$T/def/SETUP.EXE" 0)"
[[ $(field "$T/def/SETUP.EXE" 1) == "src Setup" ]] || fail "default caption"
[[ $(field "$T/def/SETUP.EXE" 3) == 'C:\src' ]] || fail "default directory"
[[ $(field "$T/def/SETUP.EXE" 2) == $'Caf\x82' ]] || fail "subtitle not in code page 850"

# A summary on stdout, nothing on a non-terminal stderr but warnings.
run "$src" -o "$T/sum" --stub "$STUB"
expect 0 "plain run"
for word in members "bytes in" "bytes out" volumes elapsed; do
    grep -q "$word" "$T/out.txt" || fail "the summary lacks '$word': $(cat "$T/out.txt")"
done
grep -q "warning: --exe" "$T/err" || fail "no warning for a missing --exe: $(cat "$T/err")"
if grep -q $'\r' "$T/err"; then fail "a progress bar was drawn on a non-terminal"; fi

echo "globpack usage: ok"
