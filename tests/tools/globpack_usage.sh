#!/usr/bin/env bash
# globpack's options and exit statuses: 0 done, 1 bad options, 2 refused input.
set -euo pipefail

source "$(dirname -- "${BASH_SOURCE[0]}")/lib/common.sh"

run() { run_tool "$GLOBPACK" "$@"; }  # run ARGS...

src=$T/src
mkdir -p "$src"
printf 'program' >"$src/ATLAS.EXE"

run --version
expect 0 "--version"
grep -Eq '^globpack [0-9]+\.[0-9]+\.[0-9]+' "$T/out.txt" || fail "--version printed: $(cat "$T/out.txt")"

run --help
expect 0 "--help"
for word in SOURCE --stub --code-page --verify "symbolic links" FIFOs SOURCE_DATE_EPOCH --exclude \
            --follow-symlinks --keep-access-times "--config FILE" "\[globpack\]"; do
    grep -q -- "$word" "$T/out.txt" || fail "--help does not mention $word"
done

for args in "" "$src" "$src -o $T/x --no-such-option" "$src -o $T/x -q -v" \
            "$src -o $T/x --config $T/missing.toml" "$src -o $T/x --code-page klingon"; do
    run $args
    expect 1 "globpack $args"
    grep -q "^globpack: " "$T/err" || fail "$args: no error line"
    [[ ! -e $T/x ]] || fail "$args: wrote $T/x"
done
grep -q "klingon" "$T/err" || fail "the code page error does not name the value"  # the last one

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

echo "globpack usage: ok"
