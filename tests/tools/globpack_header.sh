#!/usr/bin/env bash
# The header texts land in their fields: from --config with the command line winning, from
# defaults, in the chosen code page; a summary on stdout.
set -euo pipefail

source "$(dirname -- "${BASH_SOURCE[0]}")/lib/common.sh"

run() { run_tool "$GLOBPACK" "$@"; }  # run ARGS...

# Header field $2 (0 programName ... 5 exeName) of installer $1 up to its NUL.
field() {
    local stub_size
    stub_size=$(stat -c %s "$STUB")
    dd if="$1" bs=1 skip=$((stub_size + 1 + 64 * $2)) count=64 status=none | tr '\0' '\n' | head -n 1
}

src=$T/src
mkdir -p "$src"
printf 'program' >"$src/ATLAS.EXE"

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
if grep -Eq '\[[# ]{30}\]' "$T/err"; then fail "a progress bar was drawn on a non-terminal"; fi

# A path the installer could not create under the default directory is worth a warning only.
long_dir='C:\'$(printf 'D%.0s' {1..60})
long_name=$(printf 'n%.0s' {1..200})
mkdir -p "$T/long"
touch "$T/long/$long_name" "$T/long/SHORT.EXE"
run "$T/long" -o "$T/lng" --stub "$STUB" --exe SHORT.EXE --default-dir "$long_dir" -q
expect 0 "a long target path"
grep -q "warning: .*$long_name.*255" "$T/err" || fail "no warning for a long path: $(cat "$T/err")"
if grep -q "SHORT.EXE" "$T/err"; then fail "a warning for a short path"; fi

echo "globpack header: ok"
