#!/usr/bin/env bash
# The same input gives the same installer, byte for byte; members are sorted by their stored
# bytes; the recorded times are the files' own, capped by SOURCE_DATE_EPOCH when it is set.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }

pack() {  # pack SOURCE OUT [OPTIONS...]
    local source=$1 out=$2
    shift 2
    $RUN "$GLOBPACK" "$source" -o "$out" --stub "$STUB" --name "Vornhelm Atlas" \
        --default-dir 'C:\ATLAS' --exe ATLAS.EXE "$@"
}

same_installer() {  # same_installer DIR1 DIR2
    [[ $(ls "$1") == "$(ls "$2")" ]] || fail "$1 and $2 hold different files"
    local f
    for f in "$1"/*; do cmp -s "$f" "$2/${f##*/}" || fail "${f##*/} differs between $1 and $2"; done
}

# The FILETIME (100 ns since 1601) of a POSIX time.
filetime() { echo $((($1 + 11644473600) * 10000000)); }

# Unsigned little-endian integer of $3 bytes at offset $2 of file $1.
read_le() {
    local bytes value=0 i
    bytes=($(od -An -tu1 -j "$2" -N "$3" "$1"))
    for ((i = $3 - 1; i >= 0; i--)); do value=$((value * 256 + bytes[i])); done
    echo "$value"
}

src=$T/src
mkdir -p "$src/DIR" "$src/_under"
printf 'B' >"$src/B.TXT"
printf 'program' >"$src/ATLAS.EXE"
printf 'zed' >"$src/DIR/Z"
printf 'x' >"$src/_under/x"
printf 'lower' >"$src/a.txt"
head -c 70000 /dev/urandom >"$src/DIR/RANDOM.BIN"
written=1600000000  # 2020-09-13
find "$src" -exec touch -d "@$written" {} +

pack "$src" "$T/out1" -v >"$T/verbose" 2>"$T/err" || { cat "$T/err" >&2; fail "first run"; }
pack "$src" "$T/out2" -q || fail "second run"
same_installer "$T/out1" "$T/out2"

# Members in the order of their stored bytes ('\' is 0x5C, '_' 0x5F, 'a' 0x61).
order=$(sed -n 's|^.*/src/\([^ ]*\) .*$|\1|p' "$T/verbose" | tr '\n' ' ')
[[ $order == "ATLAS.EXE B.TXT DIR/RANDOM.BIN DIR/Z _under/x a.txt " ]] || fail "member order: $order"

# The first record follows the 388-byte header at S = stub size + 1: "ATLAS.EXE", 0, size, times.
size=$(stat -c %s "$T/out1/SETUP.EXE")
record=$(($(read_le "$T/out1/SETUP.EXE" $((size - 4)) 4) + 388))  # S from the trailer
fields=$((record + 10))
[[ $(read_le "$T/out1/SETUP.EXE" "$fields" 4) == 7 ]] || fail "recorded size of ATLAS.EXE"
[[ $(read_le "$T/out1/SETUP.EXE" $((fields + 20)) 8) == "$(filetime $written)" ]] ||
    fail "lastWriteTime is not the file's: $(read_le "$T/out1/SETUP.EXE" $((fields + 20)) 8)"

# SOURCE_DATE_EPOCH caps every time: with it, a copy of the tree with the same last-write and
# last-access times but new creation times packs to the same installer.
epoch=1700000000
cp -r "$src" "$T/copy"
find "$src" "$T/copy" -exec touch -d "@$written" {} +
SOURCE_DATE_EPOCH=$epoch pack "$src" "$T/out3" -q || fail "run with SOURCE_DATE_EPOCH"
SOURCE_DATE_EPOCH=$epoch pack "$T/copy" "$T/out4" -q || fail "run on the copy"
same_installer "$T/out3" "$T/out4"
for i in 0 1 2; do
    t=$(read_le "$T/out3/SETUP.EXE" $((fields + 4 + 8 * i)) 8)
    ((t <= $(filetime $epoch))) || fail "time $i ($t) is past SOURCE_DATE_EPOCH"
done
[[ $(read_le "$T/out3/SETUP.EXE" $((fields + 20)) 8) == "$(filetime $written)" ]] ||
    fail "an earlier lastWriteTime was changed by SOURCE_DATE_EPOCH"

early=1000000000
SOURCE_DATE_EPOCH=$early pack "$src" "$T/out5" -q || fail "run with an early SOURCE_DATE_EPOCH"
for i in 0 1 2; do
    t=$(read_le "$T/out5/SETUP.EXE" $((fields + 4 + 8 * i)) 8)
    [[ $t == "$(filetime $early)" ]] || fail "time $i is $t, not capped to SOURCE_DATE_EPOCH"
done

rc=0
SOURCE_DATE_EPOCH=yesterday pack "$src" "$T/out6" -q 2>"$T/err" || rc=$?
[[ $rc == 1 ]] || fail "SOURCE_DATE_EPOCH=yesterday: exit $rc, not 1"
grep -q "SOURCE_DATE_EPOCH" "$T/err" || fail "no word about SOURCE_DATE_EPOCH: $(cat "$T/err")"
[[ ! -e $T/out6 ]] || fail "a refused run wrote $T/out6"

echo "globpack determinism: ok"
