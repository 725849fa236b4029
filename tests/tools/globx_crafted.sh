#!/usr/bin/env bash
# globx on installers built byte by byte here, independently of globpack: hostile names, JSON
# escaping, code pages, times, size checks, and continuation volumes found beside the installer,
# under lower-case names and through --volumes.
set -euo pipefail
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Bytes are written from hex so that every byte value can be expressed.
hexbytes() { local h=$1; while [[ -n $h ]]; do printf "\\x${h:0:2}"; h=${h:2}; done; }
hexof() { LC_ALL=C od -An -v -tx1 | tr -d ' \n'; }
u32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
u64() { u32 $(($1 & 0xffffffff)); u32 $(($1 >> 32 & 0xffffffff)); }
# A 64-byte header text: the bytes, NUL, '-' filler.
field() {
    local h n
    h=$(printf '%b' "$1" | hexof)
    printf '%s00' "$h"
    for ((n = 63 - ${#h} / 2; n > 0; n--)); do printf 2d; done
}
header() { field "$1"; field "$2"; field "$3"; field "$4"; field "$5"; field "$6"; u32 "$7"; }
# member NAMEHEX SIZE CREATION ACCESS WRITE BITSTREAMHEX
member() { printf '%s00' "$1"; u32 "$2"; u64 "$3"; u64 "$4"; u64 "$5"; printf '%s' "$6"; }
namehex() { printf '%s' "$1" | hexof; }
# Bit streams from a fresh model.
EMPTY=00        # EndOfStream at once
AB=b08c48       # escape 'a', escape 'b', EndOfStream

# installer FILE STREAMHEX [STUBSIZE]: stub ("MZ" and zeros), 0xFF, the stream, the trailer.
# Stream bytes past file offset 1457658 of volume 0 go to GLOB1.DAT beside it, as the reader's
# position counter demands.
installer() {
    local file=$1 stream=$2 stub=${3:-16}
    local room=$(((1457659 - stub - 1) * 2))
    {
        printf MZ
        head -c $((stub - 2)) /dev/zero
        hexbytes ff
        hexbytes "${stream:0:room}"
        hexbytes "$(u32 $((stub + 1)))"
    } >"$file"
    if ((${#stream} > room)); then
        hexbytes "${stream:room}" >"$(dirname "$file")/GLOB1.DAT"
    fi
}

# run STATUS ARGS...: globx with stdout in out.txt (carriage returns dropped), stderr in err.txt.
run() {
    local want=$1 got=0
    shift
    $RUN "$GLOBX" "$@" >raw.txt 2>err.txt </dev/null || got=$?
    tr -d '\r' <raw.txt >out.txt
    [[ $got == "$want" ]] || fail "globx $* exited $got, expected $want; stderr: $(cat err.txt)"
}

have_python() { command -v python3 >/dev/null; }
# json_check PYTHON-EXPRESSIONS: asserts about out.txt, loaded as d; strict UTF-8 decoding.
json_check() {
    have_python || return 0
    python3 - "$1" <<'PY' || fail "JSON check failed: $1"
import json, os, sys
d = json.loads(open("out.txt", "rb").read().decode("utf-8", errors="strict"))
exec(sys.argv[1])
PY
}

T=133486382451234567  # 2024-01-02T03:04:05.1234567Z
T2=125911584000000000 # 2000-01-01T00:00:00Z

# --- A plain archive without the end mark, then the same with it. ---
plain="$(header 'Demo' 'Demo Setup' 'Subtitle' 'C:\\DEMO' '1.0' 'DEMO.EXE' 2)"
plain+="$(member "$(namehex 'a.txt')" 2 $T2 $T2 $T "$AB")"
plain+="$(member "$(namehex 'sub\deeper\e.txt')" 0 $T2 $T2 $T2 "$EMPTY")"
mkdir plain marked
installer plain/setup.exe "$plain"
installer marked/setup.exe "${plain}ffff"
for dir in plain marked; do
    run 0 list --json "$dir/setup.exe"
    json_check '
assert d["programName"] == "Demo" and d["caption"] == "Demo Setup", d
assert d["defaultDir"] == "C:\\DEMO" and d["exeName"] == "DEMO.EXE" and d["totalSize"] == 2, d
assert d["complete"] is True
m = d["members"]
assert [x["name"] for x in m] == ["a.txt", "sub\\deeper\\e.txt"], m
assert m[0]["size"] == 2 and m[0]["lastWriteTime"] == 133486382451234567, m[0]
assert m[0]["lastWriteTimeUtc"] == "2024-01-02T03:04:05.1234567Z", m[0]
assert m[0]["creationTimeUtc"] == "2000-01-01T00:00:00.0000000Z", m[0]
assert "nameBytes" not in m[0]'
    run 0 test "$dir/setup.exe"
    grep -q '^OK: 2 members' out.txt || fail "test $dir: $(cat out.txt)"
    run 0 extract "$dir/setup.exe" -d "$dir/out"
    [[ $(cat "$dir/out/a.txt") == ab && -f $dir/out/sub/deeper/e.txt && ! -s $dir/out/sub/deeper/e.txt ]] ||
        fail "extract $dir: wrong files: $(find "$dir/out" -type f)"
    [[ $(stat -c %Y "$dir/out/a.txt") == 1704164645 ]] || fail "a.txt lost its last-write time"
done
run 0 list plain/setup.exe
grep -Eq '^ +2  2024-01-02 03:04:05  a\.txt$' out.txt || fail "list table: $(cat out.txt)"
run 0 list -q plain/setup.exe
[[ $(wc -l <out.txt) == 2 ]] || fail "list -q printed more than the members: $(cat out.txt)"

# --- Existing files: kept when as new or newer, replaced by --overwrite. ---
printf 'local' >plain/out/a.txt
touch -d '2030-01-01 00:00:00 UTC' plain/out/a.txt
run 0 extract -v plain/setup.exe -d plain/out
grep -q '^kept .*a\.txt' out.txt || fail "-v did not report the kept file: $(cat out.txt)"
[[ $(cat plain/out/a.txt) == local ]] || fail "a newer existing file was overwritten"
[[ $(stat -c %Y plain/out/a.txt) == 1704164645 ]] || fail "a kept file did not get the recorded times"
printf 'local' >plain/out/a.txt
run 0 extract --overwrite plain/setup.exe -d plain/out
[[ $(cat plain/out/a.txt) == ab ]] || fail "--overwrite kept the existing file"

# --- Hostile names: refused, reported, nothing written outside the target. ---
hostile="$(header 'H' 'H' 'H' 'H' 'H' 'H' 2)"
for name in '..\up.txt' '\rooted.txt' 'C:drive.txt' 'a\..\..\up2.txt' 'CON' 'dir\NUL.txt' '...' \
            $'esc\x1b[31m.txt'; do
    hostile+="$(member "$(namehex "$name")" 0 $T $T $T "$EMPTY")"
done
hostile+="$(member "$(namehex 'fine.txt')" 2 $T $T $T "$AB")"
mkdir -p hostile/deep/target
installer hostile/setup.exe "$hostile"
run 2 extract hostile/setup.exe -d hostile/deep/target
[[ $(cat hostile/deep/target/fine.txt) == ab ]] || fail "a safe member after unsafe ones was lost"
found=$(cd hostile && find . -mindepth 1 | sort | tr '\n' ' ')
[[ $found == "./deep ./deep/target ./deep/target/fine.txt ./setup.exe " ]] ||
    fail "extract wrote outside its directory or wrote an unsafe name: $found"
[[ ! -e /rooted.txt && ! -e rooted.txt ]] || fail "a rooted name was written"
grep -q 'up\.txt: its name is no safe file name' err.txt || fail "unsafe name not reported: $(cat err.txt)"
grep -q 'esc\\x1b\[31m\.txt' err.txt || fail "control characters reached the terminal: $(cat err.txt)"
grep -q $'\x1b' err.txt out.txt && fail "a raw escape character was printed"
grep -q '8 failures' out.txt || fail "summary: $(cat out.txt)"
run 2 test hostile/setup.exe

# --- JSON escaping and code pages. 0x81 is undefined in code page 1252; 0x82 is a low quote in
# 1252 and e-acute in 437. The first name holds characters no Windows name can: listed, escaped,
# and refused by every verb (exit 2). ---
texts="$(header 'Caf\xe9' 'Q"uote' 'Tab\tEnd' 'B\\\\S' 'V' 'E' 0)"
texts+="$(member 7175223c5c3e2e747874 0 $T $T $T "$EMPTY")"     # qu"<\>.txt
texts+="$(member 6f6464812e747874 0 $T $T $T "$EMPTY")"         # odd<0x81>.txt
texts+="$(member 6361668274 0 $T $T $T "$EMPTY")"               # caf<0x82>t
texts+="$(member "$(namehex 'far.txt')" 0 9223372036854775807 0 $T "$EMPTY")"  # past 9999, and 1601
mkdir texts
installer texts/setup.exe "$texts"
run 2 list --json texts/setup.exe
grep -q 'qu"<\\>.txt: its name is no safe file name' err.txt || fail "the unsafe name is not reported: $(cat err.txt)"
grep -q '\\u0009\|\\t' out.txt || fail "a tab was not escaped: $(cat out.txt)"
LC_ALL=C grep -q $'\xc2[\x80-\x9f]' out.txt && fail "a C1 control was printed raw: $(cat out.txt)"
json_check '
assert d["programName"] == "Caf\u00e9" and d["caption"] == "Q\"uote", d
assert d["subtitle"] == "Tab\tEnd" and d["defaultDir"] == "B\\\\S", d
m = d["members"]
assert m[0]["name"] == "qu\"<\\>.txt", m[0]
exact = m[1]["name"] == "odd\ufffd.txt" and m[1]["nameBytes"] == "6f6464812e747874"
# The Windows table of 1252 maps its five undefined bytes to the C1 controls of the same value.
assert exact or (os.environ.get("RUN") and m[1]["name"] == "odd\x81.txt"), m[1]
assert m[2]["name"] == "caf\u201at" and "nameBytes" not in m[2], m[2]
assert m[3]["creationTime"] == 9223372036854775807 and m[3]["creationTimeUtc"] is None, m[3]
assert m[3]["lastAccessTimeUtc"] == "1601-01-01T00:00:00.0000000Z", m[3]'
run 2 list --json --code-page 437 texts/setup.exe
json_check 'assert d["members"][2]["name"] == "caf\u00e9t", d["members"][2]'
if [[ -z $RUN ]]; then
    # POSIX names are UTF-8; an undefined byte makes the name unconvertible, not mangled.
    run 2 extract --code-page 437 texts/setup.exe -d texts/out  # 0x81 is u-umlaut in 437
    [[ ! -e 'texts/out/qu"<' ]] || fail "the unsafe name was written: $(ls texts/out)"
    [[ -f $'texts/out/caf\xc3\xa9t' ]] || fail "code page 437 name not written in UTF-8: $(ls texts/out)"
    run 2 extract texts/setup.exe -d texts/out1252
    [[ -f $'texts/out1252/caf\xe2\x80\x9at' ]] || fail "code page 1252 name: $(ls texts/out1252)"
    grep -q 'odd.*cannot be converted' err.txt || fail "unconvertible name not reported: $(cat err.txt)"
    # test judges the names as extract does.
    run 2 test texts/setup.exe
    grep -q 'odd.*cannot be converted' err.txt || fail "test did not report the name: $(cat err.txt)"
    run 2 test --code-page 437 texts/setup.exe
    grep -q 'qu"<' err.txt && ! grep -q 'odd' err.txt || fail "test with code page 437: $(cat err.txt)"
fi

# --- Sizes: test checks each member's decoded length and the header's total. ---
mkdir sizes
installer sizes/setup.exe "$(header H H H H H H 7)$(member "$(namehex a.txt)" 7 $T $T $T "$AB")"
run 2 test sizes/setup.exe
grep -q 'damaged archive: member "a\.txt" decodes to 2 bytes but its record says 7' err.txt ||
    fail "size check: $(cat err.txt)"
run 2 extract sizes/setup.exe -d sizes/out
[[ ! -e sizes/out/a.txt ]] || fail "a member shorter than its record was extracted"
installer sizes/setup.exe "$(header H H H H H H 1)$(member "$(namehex a.txt)" 1 $T $T $T "$AB")"
run 2 test sizes/setup.exe
grep -q 'damaged archive: member "a\.txt" decodes to more than the 1 bytes its record says' err.txt ||
    fail "size check: $(cat err.txt)"
# A totalSize that disagrees is a warning: the files are intact.
installer sizes/setup.exe "$(header H H H H H H 9)$(member "$(namehex a.txt)" 2 $T $T $T "$AB")"
run 0 test sizes/setup.exe
grep -q "warning: the header's totalSize is 9 but the members' sizes add up to 2" err.txt ||
    fail "total check: $(cat err.txt)"
run 0 extract sizes/setup.exe -d sizes/out
grep -q "warning: the header's totalSize is 9" err.txt || fail "total check in extract: $(cat err.txt)"

# --- Damage inside a member and inside a record. ---
mkdir damaged
installer damaged/setup.exe "$(header H H H H H H 2)$(member "$(namehex cut.txt)" 2 $T $T $T b0)"
run 2 test damaged/setup.exe
grep -q 'damaged archive: member "cut.txt"' err.txt || fail "damage not reported: $(cat err.txt)"
run 2 extract damaged/setup.exe -d damaged/out
installer damaged/setup.exe "$(header H H H H H H 2)$(namehex half)00$(u32 2)"
run 2 list damaged/setup.exe
grep -q 'damaged archive: member "half"' err.txt || fail "truncated record not reported: $(cat err.txt)"
installer damaged/setup.exe "$(header H H H H H H 2)$(member "$(namehex a.txt)" 2 $T $T $T "$AB")6861"
run 2 list damaged/setup.exe
grep -q 'a\.txt' out.txt || fail "the member before the damage is not listed: $(cat out.txt)"
grep -q 'damaged archive: the data ends inside a record' err.txt || fail "cut name: $(cat err.txt)"

# --- Continuation volumes. With a stub of 1457600 bytes the stream crosses into GLOB1.DAT after
# 58 bytes, inside the header. ---
mkdir -p volumes/elsewhere
installer volumes/setup.exe "$plain" 1457600
[[ -f volumes/GLOB1.DAT ]] || fail "the crafted installer did not span two volumes"
run 0 test volumes/setup.exe
mv volumes/GLOB1.DAT volumes/elsewhere/GLOB1.DAT
run 2 test volumes/setup.exe
grep -q 'volume .*GLOB1.DAT (disk 2) is missing: put it beside the installer or pass --volumes DIR' err.txt ||
    fail "missing volume message: $(cat err.txt)"
run 0 test volumes/setup.exe --volumes volumes/elsewhere
mv volumes/elsewhere/GLOB1.DAT volumes/glob1.dat
run 0 extract volumes/setup.exe -d volumes/out
[[ $(cat volumes/out/a.txt) == ab ]] || fail "lower-case volume: a.txt not extracted"
exit 0
