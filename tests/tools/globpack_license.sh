#!/usr/bin/env bash
# --license and --icon rewrite the resources of the stub copy in SETUP.EXE: the installer finds
# exactly the text's bytes (CR LF lines, in the code page) as resource TXT 105, the icon as icon
# group 1, the edited program still passes the stub checks and loads, globx still reads the
# archive behind it; without the options the stub is copied byte for byte. In the win32 build
# PROBE, a Win32 program, loads SETUP.EXE through the system loader and dumps the resource.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }
CHECK_PE=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/../../cmake" && pwd)/check_pe.py
SPAN=1457664

run() {  # run ARGS...: status in $rc, stderr in $T/err
    rc=0
    $RUN "$GLOBPACK" "$@" >"$T/out.txt" 2>"$T/err" || rc=$?
}

pack() {  # pack OUT [OPTIONS...]
    local out=$1
    shift
    run "$src" -o "$out" --stub "$STUB" --name "Vornhelm Atlas" --exe ATLAS.EXE -q "$@"
    [[ $rc == 0 ]] || { cat "$T/err" >&2; fail "globpack $*: exit $rc"; }
}

refused() {  # refused WHAT PATTERN OUT [OPTIONS...]: exit 2, PATTERN on stderr, OUT not made
    local what=$1 pattern=$2 out=$3
    shift 3
    run "$src" -o "$out" --stub "$STUB" --exe ATLAS.EXE -q "$@"
    [[ $rc == 2 ]] || fail "$what: exit $rc, not 2"
    grep -q -- "$pattern" "$T/err" || fail "$what: no '$pattern' in: $(cat "$T/err")"
    [[ ! -e $out ]] || fail "$what: $out was written"
}

# The stub inside installer $1 (everything before the 0xFF byte at the trailer's S - 1), to $2.
stub_of() {
    local size=$(stat -c %s "$1") s
    s=$(od -An -tu4 -j $((size - 4)) -N 4 "$1" | tr -d ' ')
    head -c $((s - 1)) "$1" >"$2"
}

# Every check of an installer $1 whose agreement text must be the bytes of file $2.
check_installer() {
    local dir=$1 want=$2 name
    name=$(basename "$dir")
    stub_of "$dir/SETUP.EXE" "$T/$name.stub"
    python3 "$CHECK_PE" stub "$T/$name.stub" "$want" || fail "$name: the edited stub fails check_pe"
    $RUN "$GLOBX" test "$dir/SETUP.EXE" >/dev/null || fail "$name: globx cannot read the installer"
    if [[ -n ${PROBE:-} ]]; then
        $RUN "$PROBE" "$dir/SETUP.EXE" txt 105 "$T/$name.dump" >/dev/null ||
            fail "$name: the loader or FindResourceA refused SETUP.EXE"
        cmp -s "$T/$name.dump" "$want" || fail "$name: FindResourceA gives other bytes than $want"
        $RUN "$PROBE" --checksum "$T/$name.stub" >/dev/null || fail "$name: wrong PE checksum"
    fi
}

src=$T/src
mkdir -p "$src"
printf 'program' >"$src/ATLAS.EXE"

# Without --license (and without integrity data) the stub is copied byte for byte.
pack "$T/plain" --no-integrity
stub_of "$T/plain/SETUP.EXE" "$T/plain.stub"
cmp -s "$T/plain.stub" "$STUB" || fail "without --license the stub changed"
$RUN "$GLOBX" list "$T/plain/SETUP.EXE" | grep -q '^integrity: *none: built without integrity data' ||
    fail "an installer without integrity data does not say so"

# The integrity data, on by default, is one more resource: the stub stays a sound program with its
# own agreement text, and grows by little more than the table.
pack "$T/checked"
check_installer "$T/checked" "$(dirname -- "$CHECK_PE")/../resources/license.txt"
(( $(stat -c %s "$T/checked.stub") < $(stat -c %s "$STUB") + 1024 )) ||
    fail "the integrity data grew the stub by more than a table and an alignment"
$RUN "$GLOBX" list "$T/checked/SETUP.EXE" | grep -q '^integrity: *CRC-32 per member' ||
    fail "the integrity data is not found"

# Empty, small (LF, CR LF, a lone CR, UTF-8 with its byte order mark) and 1 MiB texts.
: >"$T/empty.txt"
printf '\xef\xbb\xbfTerms\nof use\r\nCaf\xc3\xa9\rEnd' >"$T/small.txt"
printf 'Terms\r\nof use\r\nCaf\xe9\r\nEnd' >"$T/small.want"
for i in $(seq 16384); do printf '%-62s\r\n' "All rights reserved."; done >"$T/mib.txt"
[[ $(stat -c %s "$T/mib.txt") == 1048576 ]] || fail "the 1 MiB text is not 1 MiB"
pack "$T/empty" --license "$T/empty.txt"
check_installer "$T/empty" "$T/empty.txt"
pack "$T/small" --license "$T/small.txt"
check_installer "$T/small" "$T/small.want"
pack "$T/mib" --license "$T/mib.txt"
check_installer "$T/mib" "$T/mib.txt"
(( $(stat -c %s "$T/mib.stub") < $(stat -c %s "$STUB") + 1048576 + 1024 )) ||
    fail "the 1 MiB text grew the stub by more than the text and an alignment"

# The same input gives the same installer.
pack "$T/small2" --license "$T/small.txt"
cmp -s "$T/small/SETUP.EXE" "$T/small2/SETUP.EXE" || fail "two runs with --license differ"

# A text that leaves volume 0 just enough room: the archive goes on in GLOB1.DAT.
head -c 300000 /dev/urandom >"$src/RANDOM.BIN"
stub_size=$(stat -c %s "$STUB")
xs() { head -c "$1" /dev/zero | tr '\0' x; }  # xs N: N bytes 'x'
xs $((SPAN - stub_size - 60000)) >"$T/big.txt"
pack "$T/big" --license "$T/big.txt"
# Volume 0 is full: its stream ends at offset SPAN - 6, its trailer follows.
[[ $(stat -c %s "$T/big/SETUP.EXE") == $((SPAN - 1)) ]] || fail "volume 0 is not full"
[[ -f $T/big/GLOB1.DAT ]] || fail "no GLOB1.DAT behind a large text"
check_installer "$T/big" "$T/big.txt"
rm "$src/RANDOM.BIN"

# A text that leaves no room, and texts that cannot be written, are refused before any output.
xs $((SPAN - stub_size)) >"$T/huge.txt"
refused "a text too large" "huge.txt: makes SETUP.EXE's program" "$T/r1" --license "$T/huge.txt"
printf 'one\ntwo \xe2\x82\xac\n' >"$T/euro.txt"
refused "a euro sign in 437" "euro.txt: line 2: a character code page 437" "$T/r2" \
    --license "$T/euro.txt" --code-page 437
printf 'Caf\xe9\n' >"$T/latin1.txt"
refused "a Latin-1 file" "latin1.txt: line 1: bytes that are not UTF-8" "$T/r3" \
    --license "$T/latin1.txt"
refused "a missing file" "nothere.txt: no such file" "$T/r4" --license "$T/nothere.txt"
run "$src" -o "$T/r5" --stub "$T/small/SETUP.EXE" --license "$T/small.txt" -q
[[ $rc == 2 ]] && grep -q "bytes follow its last section" "$T/err" ||
    fail "an installer as --stub: exit $rc: $(cat "$T/err")"

# --icon: a 16x16 icon of 32 bits per pixel replaces icon group 1.
python3 - "$T/new.ico" <<'PY'
import struct, sys
w = h = 16
dib = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, 0, 0, 0, 0, 0)
dib += bytes([0x20, 0x60, 0xC0, 0xFF]) * (w * h) + bytes(4 * h)  # colour, then the AND mask
ico = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(dib), 22)
open(sys.argv[1], "wb").write(ico + dib)
PY
pack "$T/icon" --icon "$T/new.ico" --license "$T/small.txt"
check_installer "$T/icon" "$T/small.want"
if [[ -n ${PROBE:-} ]]; then
    $RUN "$PROBE" "$T/icon/SETUP.EXE" 14 1 "$T/group.dump" >/dev/null || fail "no icon group 1"
    id=$(od -An -tu2 -j 18 -N 2 "$T/group.dump" | tr -d ' ')
    $RUN "$PROBE" "$T/icon/SETUP.EXE" 3 "$id" "$T/icon.dump" >/dev/null || fail "no icon $id"
    cmp -s "$T/icon.dump" <(tail -c +23 "$T/new.ico") || fail "icon $id is not the .ico's image"
fi
printf 'not an icon' >"$T/bad.ico"
refused "a bad icon" "bad.ico: not an icon file" "$T/r6" --icon "$T/bad.ico"

echo "globpack license: ok"
