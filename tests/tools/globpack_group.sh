#!/usr/bin/env bash
# --group: stored in the stub's copy from the command line or --config, shown by globx list (text
# and JSON), written in the code page; names the group command could not carry are refused before
# anything is written. Without it the installer keeps its fixed command, and list says so.
set -euo pipefail

source "$(dirname -- "${BASH_SOURCE[0]}")/lib/common.sh"

run() { run_tool "$@"; }  # run PROGRAM ARGS...

src=$T/src
mkdir -p "$src"
printf 'program' >"$src/ATLAS.EXE"

run "$GLOBPACK" "$src" -o "$T/plain" --stub "$STUB" --exe ATLAS.EXE
expect 0 "no --group"
grep -q 'group      none: the item goes to Program Manager.s "New Group"' "$T/out.txt" ||
    fail "the summary does not say where the item goes: $(cat "$T/out.txt")"
run "$GLOBX" list "$T/plain/SETUP.EXE"
expect 0 "list without a group"
grep -q '^group: *none: the installer creates "Vornhelm Software" and adds its item to "New Group"$' "$T/out.txt" ||
    fail "list without a group: $(cat "$T/out.txt")"
run "$GLOBX" list --json "$T/plain/SETUP.EXE"
grep -q '"group": null' "$T/out.txt" || fail "JSON without a group: $(head -c 400 "$T/out.txt")"

# On the command line, in code page 850 (é is 0x82 there).
run "$GLOBPACK" "$src" -o "$T/named" --stub "$STUB" --exe ATLAS.EXE --group 'Café Tools' --code-page 850 -q
expect 0 "--group"
grep -q $'Caf\x82 Tools' "$T/named/SETUP.EXE" || fail "the name is not in SETUP.EXE in code page 850"
run "$GLOBX" list --code-page 850 "$T/named/SETUP.EXE"
grep -q '^group: *Café Tools$' "$T/out.txt" || fail "list: $(cat "$T/out.txt")"
run "$GLOBX" list --json --code-page 850 "$T/named/SETUP.EXE"
grep -q '"group": "Café Tools"' "$T/out.txt" || fail "JSON: $(head -c 400 "$T/out.txt")"

# From --config, and the command line wins over it.
printf 'group = Atlas Maps\n' >"$T/pack.ini"
run "$GLOBPACK" "$src" -o "$T/cfg" --stub "$STUB" --config "$T/pack.ini" -q
expect 0 "--config group"
run "$GLOBX" list "$T/cfg/SETUP.EXE"
grep -q '^group: *Atlas Maps$' "$T/out.txt" || fail "config: $(cat "$T/out.txt")"
run "$GLOBPACK" "$src" -o "$T/cfg" --stub "$STUB" --config "$T/pack.ini" --group Other -q
run "$GLOBX" list "$T/cfg/SETUP.EXE"
grep -q '^group: *Other$' "$T/out.txt" || fail "the command line did not win: $(cat "$T/out.txt")"

# Refused, exit 1, with the reason, and nothing written.
while IFS='|' read -r name reason; do
    run "$GLOBPACK" "$src" -o "$T/refused" --stub "$STUB" --group "$name"
    expect 1 "--group '$name'"
    grep -q -- "$reason" "$T/err" || fail "--group '$name': $(cat "$T/err")"
    [[ ! -e $T/refused ]] || fail "--group '$name' wrote $T/refused"
done <<'EOF2'
|is empty
Atlas (old)|holds '('
Maps, Charts|holds ','
A/B|holds '/'
 Atlas|begins or ends with a space
Ohm Ω|cannot be written in code page 1252
EOF2
run "$GLOBPACK" "$src" -o "$T/refused" --stub "$STUB" --group "$(printf 'x%.0s' {1..64})"
expect 1 "a 64-byte group"
grep -q "more than 63" "$T/err" || fail "64 bytes: $(cat "$T/err")"
echo "ok"
