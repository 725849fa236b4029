#!/usr/bin/env bash
# One verdict: on a damaged three-volume installer, with integrity data or without, `globx test`
# and `globx extract` exit alike, decoded on one thread or several (-j 1, 2, 4: the same
# messages, files and times); an extract that exits 0 gave back every file with its size;
# nothing half-written survives a failure; a rerun after a full disk ends with the complete tree;
# nothing is written through a link.
set -euo pipefail
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Names and sizes of the files under a directory, one per line.
inventory() { (cd "$1" && find . -type f -printf '%P %s\n' | LC_ALL=C sort); }

mkdir -p src/docs src/bin
python3 - <<'EOF'
import random
r = random.Random(7)
words = ["volume ", "member ", "archive ", "the ", "disk ", "setup ", "\r\n"]
for i in range(6):
    open(f"src/docs/page{i}.txt", "w").write("".join(r.choice(words) for _ in range(4000)))
open("src/bin/tool.exe", "wb").write(bytes(r.getrandbits(8) for _ in range(3000000)))
open("src/last.txt", "w").write("the last member\n")
open("src/empty.dat", "w").close()
EOF
cp -- "$STUB" stub.exe
$RUN "$GLOBPACK" --stub stub.exe -q src -o good || fail "globpack exited $?"
$RUN "$GLOBPACK" --stub stub.exe -q --no-integrity src -o bare || fail "globpack --no-integrity exited $?"
[[ -f good/GLOB2.DAT ]] || fail "expected three volumes: $(ls good)"
expected=$(inventory src)

# --- Flips spread over the three volumes. ---
flip() {  # flip FILE OFFSET: inverts one byte in place
    python3 -c 'import sys
f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); b = f.read(1)
f.seek(int(sys.argv[2])); f.write(bytes([b[0] ^ 0xFF]))' "$1" "$2"
}
stub_size=$(stat -c %s stub.exe)
count=12
[[ -z $RUN ]] || count=5  # every Wine start costs a second
checked=0
# flips DIR COUNT: COUNT flips a volume on the installer in DIR, one at a time. Without
# integrity data a flip may change a name or bytes unnoticed (the unit tests' sweep says which):
# only with it does exit 0 vouch for the tree.
flips() {
    local dir=$1 count=$2 volume size first last n offset t x j tj xj
    for volume in SETUP.EXE GLOB1.DAT GLOB2.DAT; do
        size=$(stat -c %s "$dir/$volume")
        first=0
        last=$size
        [[ $volume != SETUP.EXE ]] || { first=$stub_size; last=$((size - 4)); }
        for ((n = 0; n < count; n++)); do
            offset=$((first + (last - first) * n / count + n))
            rm -rf out
            flip "$dir/$volume" "$offset"
            t=0; x=0
            timeout 60 $RUN "$GLOBX" test -j 1 "$dir/SETUP.EXE" >test.out 2>test.err || t=$?
            timeout 60 $RUN "$GLOBX" extract -j 1 "$dir/SETUP.EXE" -d out >extract.out 2>extract.err || x=$?
            # Decoded on more threads: the same messages, exit status, files and times (every other
            # flip, for time).
            for j in $( ((n % 2)) || echo 2 4); do
                tj=0; xj=0
                rm -rf "out$j"
                timeout 60 $RUN "$GLOBX" test -j "$j" "$dir/SETUP.EXE" >testj.out 2>testj.err || tj=$?
                timeout 60 $RUN "$GLOBX" extract -j "$j" "$dir/SETUP.EXE" -d "out$j" >extractj.out 2>extractj.err || xj=$?
                [[ $tj == "$t" && $xj == "$x" ]] || fail "$dir/$volume+$offset: -j $j exited $tj/$xj, -j 1 $t/$x"
                cmp -s test.out testj.out && cmp -s test.err testj.err && cmp -s extract.out extractj.out &&
                    cmp -s <(sed "s|out$j/|out/|g" extractj.err) extract.err ||
                    fail "$dir/$volume+$offset: -j $j says otherwise: $(diff test.err testj.err; diff extract.err extractj.err)"
                [[ ! -d out ]] || [[ $(cd out && find . -type f -printf '%P %s %T@\n' | LC_ALL=C sort) == \
                                     $(cd "out$j" && find . -type f -printf '%P %s %T@\n' | LC_ALL=C sort) ]] ||
                    fail "$dir/$volume+$offset: -j $j extracted other files or times"
                [[ ! -d out ]] || diff -r out "out$j" >/dev/null || fail "$dir/$volume+$offset: -j $j extracted other bytes"
            done
            flip "$dir/$volume" "$offset"
            [[ $t == 0 || $t == 2 ]] || fail "$dir/$volume+$offset: test exited $t: $(cat test.err)"
            [[ $t == "$x" ]] || fail "$dir/$volume+$offset: test exited $t, extract $x: $(cat test.err extract.err)"
            [[ $t == 0 ]] || ! grep -q 'matches' test.out || fail "$dir/$volume+$offset: a failed test says the CRCs match"
            if [[ -d out ]]; then
                [[ -z $(find out -name '~GLOB*') ]] || fail "$dir/$volume+$offset: a temporary file survived"
                if [[ $x == 0 && $dir == good ]]; then
                    [[ $(inventory out) == "$expected" ]] ||
                        fail "$dir/$volume+$offset: exit 0, yet the files or sizes differ: $(diff <(inventory out) <(echo "$expected"))"
                fi
            fi
            checked=$((checked + 1))
        done
    done
}
flips good "$count"
flips bare $(((count + 1) / 2))
echo "$checked flips: test and extract agree"

[[ -z $RUN ]] || exit 0  # links and mounts are the POSIX build's

# --- A directory link inside the target leads nowhere. ---
mkdir -p linked/target outside
ln -s ../../outside linked/target/docs
x=0
$GLOBX extract -q good/SETUP.EXE -d linked/target 2>err.txt || x=$?
[[ $x == 2 ]] || fail "extract through a linked directory exited $x"
[[ -z $(ls -A outside) ]] || fail "written through the link: $(ls outside)"
grep -q 'linked/target/docs is a symbolic link; nothing is written through it' err.txt ||
    fail "the link is not named: $(cat err.txt)"
[[ -f linked/target/last.txt ]] || fail "the members beside the link were not extracted"

# --- A full disk, then a rerun once there is room. ---
mkdir -p full
if [[ $(id -u) != 0 ]] || ! mount -t tmpfs -o size=1m tmpfs full 2>/dev/null; then
    echo "skipped the full disk: mounting a small tmpfs needs root"
    exit 0
fi
trap 'umount full 2>/dev/null || true' EXIT
mkdir -p full/out/bin
printf 'older\n' >full/out/bin/tool.exe  # the member that fills the disk replaces it
touch -d 2001-01-01 full/out/bin/tool.exe
x=0
$GLOBX extract -q good/SETUP.EXE -d full/out 2>err.txt || x=$?
[[ $x == 2 ]] || fail "extract on a full disk exited $x"
grep -q 'the disk is full' err.txt || fail "no word of the full disk: $(cat err.txt)"
[[ -z $(find full/out -name '~GLOB*') ]] || fail "a temporary file survived the full disk"
[[ $(cat full/out/bin/tool.exe) == older ]] || fail "the older file was lost"
mount -o remount,size=16m full
$GLOBX extract -q good/SETUP.EXE -d full/out || fail "the rerun exited $?"
[[ $(inventory full/out) == "$expected" ]] || fail "the rerun did not complete the tree"
diff -r src full/out >/dev/null || fail "the rerun's files differ from the source"
exit 0
