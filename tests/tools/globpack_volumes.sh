#!/usr/bin/env bash
# An installer over several volumes: --verify reads it back through the installer's reader, a
# smaller later build removes the volumes it no longer has, and a failed run keeps the installer
# that was there.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }
span=1457664

pack() {  # pack SOURCE [OPTIONS...] into $T/out; status in $rc
    local source=$1
    shift
    rc=0
    $RUN "$GLOBPACK" "$source" -o "$T/out" --stub "$STUB" --exe PROGRAM.EXE "$@" \
        >"$T/stdout" 2>"$T/err" || rc=$?
}

src=$T/src
mkdir -p "$src/DATA/MAPS" "$src/HELP"
head -c 3200000 /dev/urandom >"$src/PROGRAM.EXE"  # incompressible: three volumes
for i in 1 2 3 4 5; do
    printf 'Help page %d. Press F1 for more.\r\n' "$i" >"$src/HELP/PAGE$i.TXT"
done
seq 1 20000 >"$src/DATA/MAPS/GRID.DAT"
: >"$src/DATA/EMPTY.DAT"
printf '\x00' >"$src/DATA/ONE.BIN"

pack "$src" --verify
[[ $rc == 0 ]] || { cat "$T/err" >&2; fail "pack --verify: exit $rc"; }
grep -q "verified" "$T/stdout" || fail "the summary does not say verified: $(cat "$T/stdout")"
grep -Eq "members +9" "$T/stdout" || fail "summary member count: $(cat "$T/stdout")"
[[ $(ls "$T/out" | tr '\n' ' ') == "GLOB1.DAT GLOB2.DAT SETUP.EXE " ]] ||
    fail "volumes: $(ls "$T/out")"
[[ $(stat -c %s "$T/out/GLOB1.DAT") == "$span" ]] || fail "GLOB1.DAT is not $span bytes"
(($(stat -c %s "$T/out/SETUP.EXE") <= span - 1)) || fail "SETUP.EXE is too large for volume 0"
[[ ! -s $T/err ]] || fail "warnings for a clean tree: $(cat "$T/err")"

# A failed run (here a volume that cannot be created) leaves the installer as it was.
cp -r "$T/out" "$T/before"
mkdir "$T/out/GLOB1.DAT.part"
echo "changed" >"$src/HELP/PAGE1.TXT"
pack "$src"
[[ $rc == 2 ]] || fail "a volume that cannot be created: exit $rc, not 2"
grep -q "GLOB1.DAT.part" "$T/err" || fail "the error does not name the volume: $(cat "$T/err")"
rmdir "$T/out/GLOB1.DAT.part"
diff -r "$T/before" "$T/out" >/dev/null || fail "a failed run changed the installer"

# A smaller build removes GLOB2.DAT, which no longer belongs to the installer, and says so.
rm "$src/PROGRAM.EXE"
head -c 1000 /dev/urandom >"$src/PROGRAM.EXE"
pack "$src" --verify
[[ $rc == 0 ]] || { cat "$T/err" >&2; fail "smaller build: exit $rc"; }
[[ $(ls "$T/out") == SETUP.EXE ]] || fail "stale volumes left: $(ls "$T/out")"
grep -q "GLOB1.DAT: removed" "$T/err" || fail "no word about the removed GLOB1.DAT: $(cat "$T/err")"
grep -q "GLOB2.DAT: removed" "$T/err" || fail "no word about the removed GLOB2.DAT: $(cat "$T/err")"

echo "globpack volumes: ok"
