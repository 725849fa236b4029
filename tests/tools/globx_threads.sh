#!/usr/bin/env bash
# globx test and extract decoded on 1, 2 and 4 threads: the same stdout, stderr, exit status,
# files and times, on many small members, members larger than a thread's queue, several volumes,
# existing files kept or replaced, patterns, and an installer without integrity data.
set -euo pipefail
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p src/many src/big
python3 - <<'PY'
import random
r = random.Random(3)
words = [b"volume ", b"member ", b"archive ", b"the ", b"disk ", b"\r\n"]
for i in range(150):
    size = r.randrange(0, 4000)
    data = bytes(r.getrandbits(8) for _ in range(size)) if i % 3 else b"".join(r.choice(words) for _ in range(size // 5))
    open(f"src/many/f{i:03d}.dat", "wb").write(data)
# Larger than a thread's 4 MiB queue, and over several volumes.
open("src/big/large.bin", "wb").write(b"".join(r.choice(words) for _ in range(1200000)))
open("src/big/random.bin", "wb").write(r.randbytes(1500000))
open("src/z_last.txt", "w").write("the last member\n")
PY
cp -- "$STUB" stub.exe
$RUN "$GLOBPACK" --stub stub.exe -q src -o with || fail "globpack exited $?"
$RUN "$GLOBPACK" --stub stub.exe -q --no-integrity src -o without || fail "globpack --no-integrity exited $?"
[[ -f with/GLOB2.DAT ]] || fail "expected several volumes: $(ls with)"

# state DIR: every file with its size and last-write time.
state() { (cd "$1" && find . -type f -printf '%P %s %T@\n' | LC_ALL=C sort); }

# run NAME ARGS...: runs globx with -j 1, 2 and 4 and compares everything they leave; an extract
# goes to a fresh copy of prepared/ each time, the argument OUTDIR standing for it.
run() {
    local name=$1 status
    shift
    for j in 1 2 4; do
        rm -rf "out$j"
        cp -a prepared "out$j"
        local args=("${@/#OUTDIR/out$j}")
        status=0
        timeout 120 $RUN "$GLOBX" "${args[@]}" -j "$j" >"$name.$j.out" 2>"$name.$j.err" || status=$?
        echo "$status" >"$name.$j.status"
        # The target directory's name is the only difference allowed.
        sed -i "s|out$j|OUT|g" "$name.$j.out" "$name.$j.err"
        state "out$j" >"$name.$j.state"
    done
    for j in 2 4; do
        for part in out err status state; do
            cmp -s "$name.1.$part" "$name.$j.$part" ||
                fail "$name: -j $j differs from -j 1 in $part: $(diff "$name.1.$part" "$name.$j.$part" | head -5)"
        done
        diff -r out1 "out$j" >/dev/null || fail "$name: -j $j extracted other bytes"
    done
}

mkdir -p prepared
run test-with test -v with/SETUP.EXE
grep -q '^OK: 153 members' test-with.1.out || fail "test: $(cat test-with.1.out test-with.1.err)"
run test-without test -v without/SETUP.EXE
run extract-with extract -v with/SETUP.EXE -d OUTDIR
run extract-without extract -v without/SETUP.EXE -d OUTDIR

# Existing files: one newer (kept), one older (replaced), one in the way of a directory.
rm -rf prepared && mkdir -p prepared/many prepared/big/random.bin
echo newer >prepared/many/f010.dat && touch -d 2099-01-01 prepared/many/f010.dat
echo older >prepared/many/f020.dat && touch -d 2001-01-01 prepared/many/f020.dat
run extract-existing extract -v with/SETUP.EXE -d OUTDIR
grep -q 'kept *many.f010.dat' extract-existing.1.out || fail "the newer file was not kept: $(cat extract-existing.1.out)"
grep -q 'random.bin' extract-existing.1.err || fail "the directory in the way was not reported"
run extract-overwrite extract --overwrite with/SETUP.EXE -d OUTDIR
rm -rf prepared && mkdir prepared
run extract-patterns extract -v with/SETUP.EXE -d OUTDIR 'many/f1*' 'big/*.bin' 'nothing*'
[[ $(cat extract-patterns.1.status) == 1 ]] || fail "a pattern that matched nothing: exit $(cat extract-patterns.1.status)"
exit 0
