#!/usr/bin/env bash
# The bundled sample: two runs of the generator give the same tree, bytes and times; the generator
# refuses a directory that is not empty and leaves it alone; packed with the demo's options the
# tree spans at least three volumes, and extracted it comes back whole.
# Run through cmake/tool-test.sh, which supplies GLOBPACK, GLOBX, STUB, RUN and TEST_TMPDIR.
set -euo pipefail
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }
snapshot() {  # every entry's relative path, size for files, and modification time
    (cd "$1" && find . -mindepth 1 -printf '%P %y %s %T@\n' | sed 's/ d [0-9]* / d /' | LC_ALL=C sort)
}

python3 "$here/make_sample.py" first >/dev/null || fail "make_sample.py exited $?"
python3 "$here/make_sample.py" second >/dev/null || fail "make_sample.py exited $?"
diff -r first second || fail "two runs of make_sample.py wrote different bytes"
[[ $(snapshot first) == "$(snapshot second)" ]] || fail "two runs of make_sample.py gave different times"
[[ $(stat -c %s first/ATLAS.EXE) -ge 2000000 ]] || fail "ATLAS.EXE is smaller than 2 MB"

before=$(snapshot first)
if python3 "$here/make_sample.py" first 2>refused.txt; then
    fail "make_sample.py wrote into a directory that is not empty"
fi
grep -q 'not an empty directory' refused.txt || fail "unclear refusal: $(cat refused.txt)"
[[ $(snapshot first) == "$before" ]] || fail "the refused run changed the tree"

# Relative paths: under Wine that is the one form both sides read alike.
cp -- "$STUB" stub.exe
$RUN "$GLOBPACK" --stub stub.exe --name "Vornhelm Atlas" --caption "Vornhelm Atlas Setup" \
    --subtitle "Maps for every desk" --default-dir 'C:\ATLAS' --version-text "2.1" \
    --exe ATLAS.EXE -q first -o pack || fail "globpack exited $?"
[[ -f pack/SETUP.EXE && -f pack/GLOB1.DAT && -f pack/GLOB2.DAT ]] ||
    fail "the sample should span at least three volumes, got: $(ls pack)"

$RUN "$GLOBX" extract pack/SETUP.EXE -d out >/dev/null || fail "globx extract exited $?"
diff -r first out || fail "the extracted sample differs from the generated one"
[[ $(snapshot first | grep -v ' d ') == "$(snapshot out | grep -v ' d ')" ]] ||
    fail "the extracted files' times differ from the generated ones"
echo "sample: $(find first -type f | wc -l) files in $(find pack -type f | wc -l) volumes"
