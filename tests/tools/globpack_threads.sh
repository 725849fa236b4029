#!/usr/bin/env bash
# -j/--threads: the same installer, byte for byte, for any number of threads (many small files,
# files larger than a thread's buffer, empty files, several volumes); -v lists the members in
# their order; a failing file in the middle gives the error a run on one thread gives, and
# leaves nothing behind; the thread count is checked.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }

pack() {  # pack SOURCE OUT [OPTIONS...]; sets rc, stdout in $T/out.txt, stderr in $T/err
    local source=$1 out=$2
    shift 2
    rc=0
    $RUN "$GLOBPACK" "$source" -o "$out" --stub "$STUB" --name "Vornhelm Atlas" \
        --default-dir 'C:\ATLAS' --exe ATLAS.EXE "$@" >"$T/out.txt" 2>"$T/err" || rc=$?
}

same_installer() {  # same_installer DIR1 DIR2
    [[ $(ls "$1") == "$(ls "$2")" ]] || fail "$1 and $2 hold different files: $(ls "$1") / $(ls "$2")"
    local f
    for f in "$1"/*; do cmp -s "$f" "$2/${f##*/}" || fail "${f##*/} differs between $1 and $2"; done
}

random() { head -c "$1" /dev/urandom; }
text() { { yes "$2" || true; } | head -c "$1"; }  # text SIZE LINE

src=$T/src
mkdir -p "$src/SMALL" "$src/BIG" "$src/EMPTY"
printf 'program' >"$src/ATLAS.EXE"
for i in $(seq 1 150); do
    if ((i % 3 == 0)); then
        random $((i * 97)) >"$src/SMALL/R$i.BIN"
    else
        text $((i * 131)) "line $i of a text that repeats" >"$src/SMALL/T$i.TXT"
    fi
done
for i in 1 2 3; do : >"$src/EMPTY/E$i"; done
# Larger than the few MiB a thread may hold ahead of the writer; together several floppies.
random $((5 << 20)) >"$src/BIG/RANDOM1.BIN"
text $((6 << 20)) "a map of every desk, a river and a road" >"$src/BIG/TEXT.TXT"
random $((1 << 20)) >"$src/BIG/RANDOM2.BIN"
find "$src" -exec touch -d @1600000000 {} +

pack "$src" "$T/j1" -j 1 -v
[[ $rc == 0 ]] || { cat "$T/err" >&2; fail "-j 1: exit $rc"; }
cp "$T/out.txt" "$T/verbose1"
(($(ls "$T/j1" | wc -l) > 3)) || fail "the tree should fill several volumes: $(ls "$T/j1")"
for threads in 2 3 8; do
    pack "$src" "$T/j$threads" --threads "$threads" -v
    [[ $rc == 0 ]] || { cat "$T/err" >&2; fail "-j $threads: exit $rc"; }
    same_installer "$T/j1" "$T/j$threads"
    # The member lines in archive order, and the summary but for its directory and time.
    diff <(grep -v elapsed "$T/verbose1" | sed "s|$T/j1:|OUT:|") \
        <(grep -v elapsed "$T/out.txt" | sed "s|$T/j$threads:|OUT:|") >/dev/null ||
        fail "-j $threads: -v output differs from -j 1"
done
pack "$src" "$T/jdefault" -q
[[ $rc == 0 ]] || fail "default threads: exit $rc"
same_installer "$T/j1" "$T/jdefault"
$RUN "$GLOBX" test "$T/j8/SETUP.EXE" >/dev/null || fail "globx test of the -j 8 installer"

# Two files that fail in the middle of the member order: the first one is reported, exactly as
# with one thread, and nothing is left behind. As root no permission stops a read, so the
# failures come from /proc: a file that gives bytes while its size reads 0, and one whose read
# fails.
if [[ -z $RUN && -r /proc/version && -r /proc/self/mem ]]; then
    bad=$T/bad
    cp -r "$src" "$bad"
    ln -s /proc/version "$bad/SMALL/M_GROWS"
    ln -s /proc/self/mem "$bad/SMALL/Z_FAILS"
    pack "$bad" "$T/gone1" -j 1 --follow-symlinks -q
    [[ $rc == 2 ]] || fail "-j 1 with failing files: exit $rc, not 2"
    cp "$T/err" "$T/err1"
    grep -q 'M_GROWS: changed while it was packed' "$T/err1" || fail "-j 1 error: $(cat "$T/err1")"
    for threads in 2 4; do
        pack "$bad" "$T/gone$threads" -j "$threads" --follow-symlinks -q
        [[ $rc == 2 ]] || fail "-j $threads with failing files: exit $rc, not 2"
        diff "$T/err1" "$T/err" >/dev/null ||
            fail "-j $threads reported $(cat "$T/err"), -j 1 $(cat "$T/err1")"
        [[ ! -e $T/gone$threads ]] || fail "-j $threads left $T/gone$threads behind"
    done
    # Into a directory holding an installer: it stays as it was.
    cp -r "$T/j1" "$T/keep"
    pack "$bad" "$T/keep" -j 4 --follow-symlinks -q
    [[ $rc == 2 ]] || fail "a failing run over an installer: exit $rc"
    same_installer "$T/j1" "$T/keep"

    rm "$bad/SMALL/M_GROWS"
    pack "$bad" "$T/gone" -j 1 --follow-symlinks -q
    grep -q 'Z_FAILS: read failed' "$T/err" || fail "-j 1 read failure: $(cat "$T/err")"
    cp "$T/err" "$T/err1"
    pack "$bad" "$T/gone" -j 4 --follow-symlinks -q
    [[ $rc == 2 ]] && diff "$T/err1" "$T/err" >/dev/null ||
        fail "-j 4 read failure: exit $rc, $(cat "$T/err")"
    [[ ! -e $T/gone ]] || fail "a failed read left $T/gone behind"
fi

for value in 0 65 junk -3 ""; do
    pack "$src" "$T/x" --threads "$value"
    [[ $rc == 1 ]] || fail "--threads '$value': exit $rc, not 1"
    grep -q -- "--threads" "$T/err" || fail "--threads '$value': the error does not name it: $(cat "$T/err")"
    [[ ! -e $T/x ]] || fail "--threads '$value' wrote $T/x"
done
# From --config too, checked alike; the command line wins.
printf 'threads = 3\n' >"$T/three.ini"
pack "$src" "$T/jconfig" -q --config "$T/three.ini"
[[ $rc == 0 ]] || fail "threads = 3 in --config: exit $rc, $(cat "$T/err")"
same_installer "$T/j1" "$T/jconfig"
for line in 'threads = 0' 'threads = "2"' 'threads = many'; do
    printf '# threads\n%s\n' "$line" >"$T/bad.ini"
    pack "$src" "$T/x" -q --config "$T/bad.ini"
    [[ $rc == 1 ]] && grep -q 'bad.ini: line 2: threads is a whole number from 1 to 64' "$T/err" ||
        fail "'$line' in --config: exit $rc, $(cat "$T/err")"
    [[ ! -e $T/x ]] || fail "'$line' in --config wrote $T/x"
done
pack "$src" "$T/x" -q --config "$T/bad.ini" -j 2
[[ $rc == 1 ]] || fail "a bad threads line is an error even with -j: exit $rc"

$RUN "$GLOBPACK" --help >"$T/help.txt"
grep -q -- "-j,--threads N" "$T/help.txt" || fail "--help does not list -j,--threads"

echo "globpack threads: ok"
