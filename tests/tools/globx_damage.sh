#!/usr/bin/env bash
# Damaged and incomplete installers: a truncated last volume, a missing GLOB1.DAT, a removed
# trailer, random garbage. globx must end with status 2 in bounded time, say in one line which file
# is wrong, and write nothing unbounded.
set -euo pipefail
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

# expect_damaged NAME INSTALLER PATTERN [STATUSES]: test, list and extract all exit 2 (or one of
# STATUSES) within 20 s with PATTERN on stderr; stderr and the extract directory stay small.
expect_damaged() {
    local name=$1 installer=$2 pattern=$3 statuses=${4:-2} verb status
    for verb in test list extract; do
        status=0
        if [[ $verb == extract ]]; then
            timeout 20 $RUN "$GLOBX" extract "$installer" -d "out-$name" >out.txt 2>err.txt || status=$?
        else
            timeout 20 $RUN "$GLOBX" $verb "$installer" >out.txt 2>err.txt || status=$?
        fi
        [[ $status != 124 ]] || fail "$name: globx $verb did not finish within 20 s"
        [[ " $statuses " == *" $status "* ]] ||
            fail "$name: globx $verb exited $status, expected $statuses; stderr: $(cat err.txt)"
        [[ $status == 0 ]] || grep -Eq -- "$pattern" err.txt || fail "$name: globx $verb said: $(cat err.txt)"
        (($(wc -c <err.txt) < 16384)) || fail "$name: globx $verb wrote $(wc -c <err.txt) bytes to stderr"
    done
    if [[ -d out-$name ]]; then
        local size
        size=$(du -sb "out-$name" | cut -f1)
        ((size <= 5000000)) || fail "$name: extract wrote $size bytes"
    fi
}

cp -- "$STUB" stub.exe
mkdir -p src/sub
head -c 4000000 /dev/urandom >src/sub/random.dat
printf 'small\n' >src/a.txt
printf 'last\n' >src/z.txt
$RUN "$GLOBPACK" --stub stub.exe -q src -o good || fail "globpack exited $?"
[[ -f good/GLOB2.DAT && ! -f good/GLOB3.DAT ]] || fail "expected exactly three volumes: $(ls good)"
timeout 20 $RUN "$GLOBX" test good/SETUP.EXE >/dev/null || fail "the intact installer does not test clean"

# The last volume cut in half: the data ends inside the large member.
cp -r good truncated
size=$(stat -c %s truncated/GLOB2.DAT)
truncate -s $((size / 2)) truncated/GLOB2.DAT
expect_damaged truncated truncated/SETUP.EXE 'GLOB2\.DAT: damaged archive: member "sub.random\.dat"'

# The last volume without its last three bytes: the end mark and the end of the last member's bit
# stream are gone.
cp -r good short
truncate -s -3 short/GLOB2.DAT
expect_damaged short short/SETUP.EXE 'GLOB2\.DAT: damaged archive: member "z\.txt"'

# GLOB1.DAT missing.
cp -r good missing
rm missing/GLOB1.DAT
expect_damaged missing missing/SETUP.EXE 'volume .*GLOB1\.DAT \(disk 2\) is missing: put it beside the installer or pass --volumes DIR'

# The trailer removed: the last four bytes now read as an offset far outside the file, or
# pointing into data that is no archive.
mkdir notrailer
cp good/SETUP.EXE notrailer/SETUP.EXE
truncate -s -4 notrailer/SETUP.EXE
expect_damaged notrailer notrailer/SETUP.EXE '^globx: (volume )?notrailer/(SETUP\.EXE|GLOB1\.DAT)'

# Random garbage: with its own trailer (mostly outside the file), and with a trailer that points
# at its first byte, so that the garbage is decoded as header and members. Such garbage may well
# read as a valid archive that ends early (a 0xFF where a name goes on), so 0 is allowed there.
for seed in 1 2 3 4 5 6; do
    mkdir "garbage$seed"
    head -c $((seed * 40000)) /dev/urandom >"garbage$seed/SETUP.EXE"
    expect_damaged "garbage$seed" "garbage$seed/SETUP.EXE" "^globx: (volume )?garbage$seed/"
    mkdir "decoded$seed"
    { head -c $((seed * 40000)) /dev/urandom; printf '\x00\x00\x00\x00'; } >"decoded$seed/SETUP.EXE"
    expect_damaged "decoded$seed" "decoded$seed/SETUP.EXE" '^globx: ' "0 2"
done
exit 0
