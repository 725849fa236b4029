#!/usr/bin/env bash
# Installers signed after packing, with osslsigncode and a self-signed certificate: one volume and
# three. globx finds the trailer in front of the certificate table, lists the installer as
# signed, tests it and extracts every byte and time; the signature still verifies afterwards.
# A certificate table cut short is refused, not read as archive data.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in osslsigncode openssl; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (./dev.sh deps installs it)"
        exit 77
    fi
done
cd "$T"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 3 \
    -subj "/CN=globsetup signing test" 2>openssl.err || { cat openssl.err >&2; fail "openssl req"; }

snapshot() {  # every file's relative path and last-write time, one a line
    (cd "$1" && find . -type f -printf '%P %TY-%Tm-%Td %TT\n' | LC_ALL=C sort)
}

# check NAME SOURCE VOLUMES: packs SOURCE into NAME/, signs SETUP.EXE and reads it back.
check() {
    local name=$1 src=$2 volumes=$3
    $RUN "$GLOBPACK" "$src" -o "$name" --stub "$STUB" --name "Signed $name" --exe APP.EXE --verify \
        >"$name.pack" 2>&1 || { cat "$name.pack" >&2; fail "$name: globpack --verify"; }
    [[ $(ls "$name" | wc -l) == "$volumes" ]] || fail "$name: volumes: $(ls "$name")"

    $RUN "$GLOBX" list "$name/SETUP.EXE" >"$name.unsigned.list" || fail "$name: list unsigned"
    grep -Eq '^signed: +no$' "$name.unsigned.list" ||
        fail "$name: the unsigned installer is not listed as unsigned: $(cat "$name.unsigned.list")"
    $RUN "$GLOBX" list --json "$name/SETUP.EXE" | grep -q '"signed": *false' ||
        fail "$name: list --json of the unsigned installer has no \"signed\": false"

    local size
    size=$(stat -c %s "$name/SETUP.EXE")
    osslsigncode sign -certs cert.pem -key key.pem -n "Signed $name" -h sha256 \
        -in "$name/SETUP.EXE" -out "$name/SETUP.signed" >"$name.sign" 2>&1 ||
        { cat "$name.sign" >&2; fail "$name: osslsigncode sign"; }
    mv "$name/SETUP.signed" "$name/SETUP.EXE"
    (($(stat -c %s "$name/SETUP.EXE") > size + 8)) || fail "$name: signing did not append a table"

    $RUN "$GLOBX" list "$name/SETUP.EXE" >"$name.list" 2>"$name.err" ||
        { cat "$name.err" >&2; fail "$name: globx list of the signed installer"; }
    grep -Eq '^signed: +yes' "$name.list" || fail "$name: not listed as signed: $(cat "$name.list")"
    diff <(grep -v '^signed:' "$name.unsigned.list") <(grep -v '^signed:' "$name.list") ||
        fail "$name: signing changed what is listed"
    $RUN "$GLOBX" list --json "$name/SETUP.EXE" >"$name.json" || fail "$name: list --json"
    grep -q '"signed": *true' "$name.json" || fail "$name: no \"signed\": true in $(cat "$name.json")"
    grep -q '"complete": *true' "$name.json" || fail "$name: list --json is not complete"

    $RUN "$GLOBX" test "$name/SETUP.EXE" >"$name.test" 2>&1 ||
        { cat "$name.test" >&2; fail "$name: globx test of the signed installer"; }
    $RUN "$GLOBX" extract -q "$name/SETUP.EXE" -d "$name.out" >"$name.extract" 2>&1 ||
        { cat "$name.extract" >&2; fail "$name: globx extract of the signed installer"; }
    diff -r "$src" "$name.out" || fail "$name: extracted bytes differ"
    [[ $(snapshot "$src") == "$(snapshot "$name.out")" ]] ||
        fail "$name: last-write times differ: $(diff <(snapshot "$src") <(snapshot "$name.out"))"

    # Reading changed nothing: the signature still verifies against its certificate.
    osslsigncode verify -CAfile cert.pem -in "$name/SETUP.EXE" >"$name.verify" 2>&1 ||
        { cat "$name.verify" >&2; fail "$name: the signature no longer verifies"; }

    # A certificate table cut short is damage, reported as such, never read as archive data.
    head -c -1 "$name/SETUP.EXE" >"$name/CUT.EXE"
    local rc=0
    $RUN "$GLOBX" test "$name/CUT.EXE" >"$name.cut" 2>&1 || rc=$?
    [[ $rc == 2 ]] || fail "$name: a cut certificate table: exit $rc, not 2: $(cat "$name.cut")"
    grep -Eq "CUT.EXE: not an installer,? or (a )?damaged" "$name.cut" ||
        fail "$name: a cut certificate table: $(cat "$name.cut")"
}

mkdir -p small/DOCS big/DATA
printf 'Read me first.\r\n' >small/README.TXT
seq 1 3000 >small/DOCS/NUMBERS.TXT
printf 'x' >small/ONE.BIN
head -c 3200000 /dev/urandom >big/APP.EXE  # incompressible: three volumes
seq 1 50000 >big/DATA/GRID.DAT
stamp=0
for file in $(find small big -type f | LC_ALL=C sort); do
    stamp=$((stamp + 1))
    touch -d "2022-05-0$((stamp % 9 + 1)) 07:08:09" -- "$file"
done

check one small 1
check three big 3

echo "globx signed: ok"
