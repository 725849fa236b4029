#!/usr/bin/env bash
# A generated tree packed with globpack into an installer of at least three volumes, then checked,
# listed and extracted with globx: the same bytes and the same last-write times come back, a second
# extract keeps the files and --overwrite rewrites them.
set -euo pipefail
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Paths stay relative to TEST_TMPDIR: under Wine that is the one form both sides read alike.
cp -- "$STUB" stub.exe
export TZ=UTC

mkdir -p src/docs/deep src/bin
: >src/empty.txt
printf 'x' >src/one.bin
for ((i = 0; i < 256; i++)); do printf "\\x$(printf %02x $i)"; done >src/docs/bytes.bin
head -c 4000000 /dev/urandom >src/bin/random.dat  # incompressible: the installer needs 3 volumes
printf 'accented\n' >src/docs/deep/$'caf\xc3\xa9.txt'
printf 'text %s\n' {1..2000} >src/docs/deep/text.txt

# FILETIME keeps 100 ns: times with seven fractional digits come back exactly.
stamp=0
while IFS= read -r -d '' file; do
    touch -d "2021-03-0$((stamp % 9 + 1)) 05:06:07.$(printf %07d $(((1234567 + stamp * 1111111) % 10000000)))00" -- "$file"
    stamp=$((stamp + 1))
done < <(find src -type f -print0)

snapshot() {  # every file's relative path and last-write time, one a line
    (cd "$1" && find . -type f -printf '%P %TY-%Tm-%Td %TT\n' | LC_ALL=C sort)
}

$RUN "$GLOBPACK" --stub stub.exe --name Roundtrip --caption 'Roundtrip Setup' --default-dir 'C:\ROUND' \
    -q src -o pack || fail "globpack exited $?"
[[ -f pack/SETUP.EXE && -f pack/GLOB1.DAT && -f pack/GLOB2.DAT ]] ||
    fail "expected at least three volumes, got: $(ls pack)"

$RUN "$GLOBX" test pack/SETUP.EXE >test.txt || fail "globx test exited $?: $(cat test.txt)"
grep -q '^OK: 6 members' test.txt || fail "globx test: $(cat test.txt)"

$RUN "$GLOBX" list --json pack/SETUP.EXE >list.json || fail "globx list --json exited $?"
if command -v python3 >/dev/null; then
    python3 - <<'PY' || fail "list --json does not describe the tree"
import json, os
d = json.load(open("list.json", encoding="utf-8"))
assert d["programName"] == "Roundtrip" and d["caption"] == "Roundtrip Setup", d
assert d["defaultDir"] == "C:\\ROUND" and d["complete"] is True, d
members = {m["name"]: m for m in d["members"]}
expected = {}
for root, _, files in os.walk("src"):
    for f in files:
        path = os.path.join(root, f)
        expected[os.path.relpath(path, "src").replace("/", "\\")] = os.stat(path)
assert sorted(members) == sorted(expected), (sorted(members), sorted(expected))
for name, st in expected.items():
    m = members[name]
    assert m["size"] == st.st_size, name
    assert m["lastWriteTime"] == st.st_mtime_ns // 100 + 116444736000000000, name
    assert m["lastWriteTimeUtc"].endswith("Z") and m["lastWriteTimeUtc"][:4] == "2021", m
assert d["totalSize"] == sum(st.st_size for st in expected.values())
PY
fi

$RUN "$GLOBX" extract -q pack/SETUP.EXE -d out >extract.txt || fail "globx extract exited $?"
[[ ! -s extract.txt ]] || fail "extract -q printed: $(cat extract.txt)"
diff -r src out || fail "extracted bytes differ"
[[ $(snapshot src) == "$(snapshot out)" ]] ||
    fail "last-write times differ: $(diff <(snapshot src) <(snapshot out))"

# Same times: a second extract keeps every file, even one whose contents changed meanwhile.
printf 'changed' >out/docs/deep/text.txt
touch -r src/docs/deep/text.txt out/docs/deep/text.txt
$RUN "$GLOBX" extract -v pack/SETUP.EXE -d out >again.txt || fail "second extract exited $?"
[[ $(grep -c '^kept ' again.txt) == 6 ]] || fail "second extract did not keep all: $(cat again.txt)"
[[ $(cat out/docs/deep/text.txt) == changed ]] || fail "a file with the same time was rewritten"

$RUN "$GLOBX" extract --overwrite pack/SETUP.EXE -d out >overwrite.txt || fail "--overwrite exited $?"
diff -r src out || fail "--overwrite did not restore the files"
[[ $(snapshot src) == "$(snapshot out)" ]] || fail "--overwrite lost the times"
exit 0
