#!/usr/bin/env bash
# globpack --config: strict (an unknown key or section, a malformed line is an error naming its
# line), TOML and INI forms, values with spaces, paths relative to the file; and --config,
# --license and --icon read regular files only.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }
native=true
[[ -n ${RUN:-} ]] && native=false

run() {  # run ARGS...: status in $rc, stdout in $T/out.txt, stderr in $T/err
    rc=0
    timeout 60 $RUN "$GLOBPACK" "$@" >"$T/out.txt" 2>"$T/err" </dev/null || rc=$?
}

src=$T/src
mkdir -p "$src"
printf 'program' >"$src/ATLAS.EXE"
printf 'old' >"$src/ATLAS.BAK"

# A header text from the installer: field I (0-5) of the 388-byte header behind the stub.
field() {
    local file=$1 i=$2 offset
    offset=$(od -An -tu4 -j $(($(stat -c %s "$file") - 4)) -N4 "$file" | tr -d ' ')
    dd if="$file" bs=1 skip=$((offset + 64 * i)) count=64 status=none | tr '\0' '\n' | head -n 1
}

# Refused files: each config, the exit status and a part of the one error line.
refused=(
    $'name = A\nnmae = B'                 1 'line 2: unknown key "nmae"'
    $'default_dir = \'C:\\X\''            1 'did you mean default-dir?'
    $'[options]\nname = A'                1 'line 1: unknown section [options]'
    $'name = "Atlas'                      1 'line 1: name: the string has no closing'
    $'# fine\njust words'                 1 'line 2: "just words" is not a key = value line'
    $'verify = yes'                       1 'line 1: verify is true or false'
    $'name = A\nname = B'                 1 'line 2: name is given twice'
    $'name = ["A", "B"]'                  1 'line 1: name takes one value'
    $'default-dir = "C:\\X"'              1 'line 1: default-dir: \X is not an escape'
)
for ((i = 0; i < ${#refused[@]}; i += 3)); do
    printf '%s\n' "${refused[i]}" >"$T/bad.toml"
    run "$src" -o "$T/x" --stub "$STUB" --config "$T/bad.toml"
    [[ $rc == "${refused[i + 1]}" ]] || fail "config '${refused[i]}': exit $rc; $(cat "$T/err")"
    grep -qF -- "${refused[i + 2]}" "$T/err" || fail "config '${refused[i]}': $(cat "$T/err")"
    [[ $(wc -l <"$T/err") == 1 ]] || fail "config '${refused[i]}': more than one line: $(cat "$T/err")"
    [[ ! -e $T/x ]] || fail "config '${refused[i]}': wrote $T/x"
done

# The INI form with a [globpack] section, values with spaces, and paths relative to the file,
# run from another directory: source, output and license all lie beside the config.
mkdir -p "$T/conf/tree"
printf 'program' >"$T/conf/tree/ATLAS.EXE"
printf 'old' >"$T/conf/tree/ATLAS.BAK"
printf 'Terms of the conf.\n' >"$T/conf/license.txt"
cat >"$T/conf/atlas.ini" <<'INI'
; the atlas installer
[globpack]
source = tree
output = out
name = Vornhelm Atlas
subtitle = Maps for every desk
default-dir = C:\ATLAS
exe = ATLAS.EXE
license = license.txt
exclude = *.bak
stub = STUBPATH
INI
sed -i "s|STUBPATH|$STUB|" "$T/conf/atlas.ini"
pushd / >/dev/null
run --config "$T/conf/atlas.ini" -q
popd >/dev/null
[[ $rc == 0 ]] || fail "the INI config: exit $rc: $(cat "$T/err")"
[[ -f $T/conf/out/SETUP.EXE ]] || fail "output = out is not relative to the config file"
[[ $(field "$T/conf/out/SETUP.EXE" 0) == "Vornhelm Atlas" ]] || fail "name with spaces: '$(field "$T/conf/out/SETUP.EXE" 0)'"
[[ $(field "$T/conf/out/SETUP.EXE" 3) == 'C:\ATLAS' ]] || fail "default-dir: '$(field "$T/conf/out/SETUP.EXE" 3)'"
grep -q 'Terms of the conf' "$T/conf/out/SETUP.EXE" || fail "license = license.txt was not read beside the config"
$RUN "$GLOBX" list "$T/conf/out/SETUP.EXE" -q >"$T/list.txt" 2>&1 || fail "globx list: $(cat "$T/list.txt")"
if grep -q 'ATLAS.BAK' "$T/list.txt"; then fail "exclude = *.bak from the config was not applied"; fi

# Options on the command line win over the file; exclude patterns add up.
run "$T/conf/tree" -o "$T/cli" --config "$T/conf/atlas.ini" --name "From the command line" -q
[[ $rc == 0 ]] || fail "config and command line: $(cat "$T/err")"
[[ $(field "$T/cli/SETUP.EXE" 0) == "From the command line" ]] || fail "the command line did not win"

# --help names the option's argument once.
run --help
grep -q -- '--config FILE ' "$T/out.txt" || fail "--help does not show '--config FILE'"
if grep -q 'FILE:FILE' "$T/out.txt"; then fail "--help shows FILE:FILE"; fi

# Regular files only, of a sane size: a FIFO would block, a device could be endless.
head -c 70000 /dev/zero | tr '\0' '#' >"$T/huge.toml"
run "$src" -o "$T/x" --stub "$STUB" --config "$T/huge.toml"
[[ $rc == 1 ]] && grep -q 'more than 65536 bytes' "$T/err" || fail "a 70 KB config: exit $rc: $(cat "$T/err")"
run "$src" -o "$T/x" --stub "$STUB" --config "$T"
[[ $rc == 1 ]] && grep -q 'is a directory' "$T/err" || fail "a directory as config: exit $rc: $(cat "$T/err")"
if $native; then
    mkfifo "$T/fifo"
    inputs=(
        "--config $T/fifo"      1 "fifo: is a FIFO; the configuration file must be a regular file"
        "--config /dev/zero"    1 "/dev/zero: is a device"
        "--license $T/fifo"     2 "fifo: is a FIFO; the agreement text must be a regular file"
        "--license /dev/zero"   2 "/dev/zero: is a device"
        "--icon $T/fifo"        2 "fifo: is a FIFO; the icon file must be a regular file"
        "--icon /dev/urandom"   2 "/dev/urandom: is a device"
    )
    for ((i = 0; i < ${#inputs[@]}; i += 3)); do
        # shellcheck disable=SC2086  # the words are meant to split
        run "$src" -o "$T/x" --stub "$STUB" ${inputs[i]}
        [[ $rc != 124 ]] || fail "${inputs[i]}: globpack hung"
        [[ $rc == "${inputs[i + 1]}" ]] || fail "${inputs[i]}: exit $rc: $(cat "$T/err")"
        grep -qF "${inputs[i + 2]}" "$T/err" || fail "${inputs[i]}: $(cat "$T/err")"
        [[ ! -e $T/x ]] || fail "${inputs[i]}: wrote $T/x"
    done
fi
echo "globpack config: ok"
