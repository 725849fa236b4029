#!/usr/bin/env bash
# Trees as they are: a single file, --exclude, links (refused alike on every platform, or followed
# with loops refused), every refused name available, an absolute --default-dir, reproducible times
# whatever reads the tree between two runs, and a file rewritten while it is packed.
set -euo pipefail

source "$(dirname -- "${BASH_SOURCE[0]}")/lib/common.sh"
# Under Wine, links look like what they point to: those cases run natively only.
native=true
[[ -n ${RUN:-} ]] && native=false

run() { run_tool "$GLOBPACK" --stub "$STUB" "$@"; }  # run ARGS...
members() {  # members INSTALLER: the member names, one a line, sorted
    $RUN "$GLOBX" list "$1" --json | python3 -c 'import json,sys; print("\n".join(sorted(m["name"] for m in json.load(sys.stdin)["members"])))'
}

# A single file is one member, named by its file name; the defaults come from its stem.
mkdir -p "$T/one"
printf 'program' >"$T/one/ATLAS.EXE"
run "$T/one/ATLAS.EXE" -o "$T/single" -q
expect 0 "a single file"
[[ $(members "$T/single/SETUP.EXE") == ATLAS.EXE ]] || fail "single file: $(members "$T/single/SETUP.EXE")"
$RUN "$GLOBX" list "$T/single/SETUP.EXE" | grep -q 'defaultDir: *C:\\ATLAS' || fail "default-dir of a single file"

# --exclude, repeatable: names at any depth, anchored paths, whole directories.
src=$T/tree
mkdir -p "$src/CVS" "$src/data/old" "$src/docs"
for f in A.EXE A.BAK CVS/Entries data/map.dat data/old/map.dat docs/guide.txt docs/CVS; do
    printf '%s' "$f" >"$src/$f"
done
run "$src" -o "$T/excl" --exe A.EXE --exclude '*.bak' --exclude cvs --exclude 'data/old' -v
expect 0 "--exclude"
[[ $(members "$T/excl/SETUP.EXE" | tr '\n' ' ') == 'A.EXE data\map.dat docs\guide.txt ' ]] ||
    fail "--exclude kept: $(members "$T/excl/SETUP.EXE" | tr '\n' ' ')"
grep -q 'excluded   4' "$T/out.txt" || fail "the summary does not count the excluded: $(cat "$T/out.txt")"

# --default-dir must be absolute: the installer puts the drive letter over its first character.
for dir in 'Games\Topo' '\Games' 'C:Games' 'C:/Games' ''; do
    run "$src" -o "$T/x" --exe A.EXE --default-dir "$dir"
    expect 1 "--default-dir '$dir'"
    grep -q -- '--default-dir: ".*" .*\\' "$T/err" || fail "--default-dir '$dir': $(cat "$T/err")"
    [[ ! -e $T/x ]] || fail "--default-dir '$dir' wrote $T/x"
done
run "$src" -o "$T/x" --exe A.EXE --default-dir 'd:\Games\Topo' -q
expect 0 "a lower-case drive letter"
rm -rf "$T/x"

# Reproducible: reading the tree between two runs (which moves last-access times) changes
# nothing; --keep-access-times records them. touch -a moves the change time as well, which the
# Windows build may take for the creation time, so it is used natively only.
run "$src" -o "$T/r1" --exe A.EXE -q
cat "$src/A.EXE" "$src/data/map.dat" "$src/docs/guide.txt" >/dev/null
$native && touch -a -d '2001-02-03 04:05:06' "$src/A.EXE" "$src/data/map.dat"
run "$src" -o "$T/r2" --exe A.EXE -q
cmp -s "$T/r1/SETUP.EXE" "$T/r2/SETUP.EXE" || fail "reading the tree changed the installer"
if $native; then
    run "$src" -o "$T/k1" --exe A.EXE -q --keep-access-times
    touch -a -d '2002-02-03 04:05:06' "$src/A.EXE"
    run "$src" -o "$T/k2" --exe A.EXE -q --keep-access-times
    if cmp -s "$T/k1/SETUP.EXE" "$T/k2/SETUP.EXE"; then fail "--keep-access-times did not record access times"; fi
fi

# A file rewritten at the same size while it is read is refused, nothing written. A writer flips
# bytes in place, without a pause, until globpack ends.
mkdir -p "$T/busy"
head -c $((4 << 20)) /dev/urandom >"$T/busy/big.bin"
printf 'x' >"$T/busy/A.EXE"
(
    while :; do
        printf 'torn' | dd of="$T/busy/big.bin" bs=1 seek=$((RANDOM * 100)) conv=notrunc status=none
        sleep 0.01
    done
) &
writer=$!
run "$T/busy" -o "$T/torn" --exe A.EXE -q
kill "$writer"
wait "$writer" 2>/dev/null || true
expect 2 "a file rewritten while it was packed"
grep -q 'big.bin: changed while it was packed' "$T/err" || fail "the torn file is not named: $(cat "$T/err")"
[[ ! -e $T/torn ]] || fail "a torn pack left $T/torn"

if $native; then
    # Links: refused by default with the way out, followed on request, loops refused still.
    links=$T/links
    mkdir -p "$links/real"
    printf 'x' >"$links/real/A.EXE"
    ln -s real/A.EXE "$links/tofile"
    ln -s real "$links/todir"
    run "$links" -o "$T/x" --exe real\\A.EXE
    expect 2 "links by default"
    grep -q 'tofile: is a symbolic link.*--follow-symlinks' "$T/err" || fail "no way out offered: $(cat "$T/err")"
    [[ ! -e $T/x ]] || fail "refused links wrote $T/x"
    run "$links" -o "$T/follow" --exe real\\A.EXE --follow-symlinks -q
    expect 0 "--follow-symlinks"
    [[ $(members "$T/follow/SETUP.EXE" | tr '\n' ' ') == 'real\A.EXE todir\A.EXE tofile ' ]] ||
        fail "--follow-symlinks packed: $(members "$T/follow/SETUP.EXE" | tr '\n' ' ')"
    ln -s .. "$links/real/up"
    run "$links" -o "$T/x" --exe real\\A.EXE --follow-symlinks
    expect 2 "a loop"
    grep -q 'real/up: is a symbolic link to .*a loop' "$T/err" || fail "the loop is not named: $(cat "$T/err")"

    # Every refused name: 20 and a count, or all of them with -v.
    many=$T/many
    mkdir -p "$many"
    printf 'x' >"$many/A.EXE"
    for i in $(seq 1 25); do ln -s A.EXE "$many/link$i"; done
    run "$many" -o "$T/x" --exe A.EXE
    expect 2 "25 links"
    [[ $(grep -c 'is a symbolic link' "$T/err") == 20 ]] || fail "not 20 lines: $(cat "$T/err")"
    grep -q '5 more not shown (25 in all); -v lists every one' "$T/err" || fail "no count: $(cat "$T/err")"
    run "$many" -o "$T/x" --exe A.EXE -v
    [[ $(grep -c 'is a symbolic link' "$T/err") == 25 ]] || fail "-v did not list all 25: $(cat "$T/err")"
fi
echo "globpack trees: ok"
