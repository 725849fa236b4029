#!/usr/bin/env bash
# globpack refuses input the installer could not carry or create, with one line per problem that
# names the file and the reason, exit status 2, and nothing written.
set -euo pipefail

T=$TEST_TMPDIR
fail() { echo "FAIL: $*" >&2; exit 1; }
# Under Wine, Linux names with characters Windows forbids reach the program altered, and links,
# FIFOs and sockets look like what they point to: those cases run natively only.
native=true
[[ -n ${RUN:-} ]] && native=false

pack() {  # pack SOURCE [OPTIONS...]: runs globpack into $T/out; status in $rc, stderr in $T/err
    local source=$1
    shift
    rc=0
    $RUN "$GLOBPACK" "$source" -o "$T/out" --stub "$STUB" --exe A.EXE "$@" >"$T/stdout" 2>"$T/err" || rc=$?
}

expect_refused() {  # expect_refused WHAT: exit 2 and no output directory
    [[ $rc == 2 ]] || { cat "$T/err" >&2; fail "$1: exit status $rc, not 2"; }
    [[ ! -e $T/out ]] || fail "$1: $T/out was created"
}

expect_line() {  # expect_line PATTERN...: some line of stderr holds every pattern
    local line
    while IFS= read -r line; do
        local all=true pattern
        for pattern in "$@"; do [[ $line == *"$pattern"* ]] || all=false; done
        $all && return 0
    done <"$T/err"
    cat "$T/err" >&2
    fail "no error line with: $*"
}

# Names Windows does not allow, and names the archive cannot hold. All problems of a tree are
# reported in one run.
src=$T/names
mkdir -p "$src/sub"
touch "$src/A.EXE" "$src/CON" "$src/nul.txt" "$src/Lpt1.dat" "$src/dot." "$src/space " \
      "$src/sub/readme.txt" "$src/sub/README.TXT" "$src/a"$'\xc3\xbf' "$src/"$'\xc3\xbf'"first"
if $native; then
    touch "$src/q?.txt" "$src/lt<" "$src/co:lon" "$src/back\\slash" "$src/ctl"$'\x01' \
          "$src/"$'\xd0\x96'".txt"
    mkdir -p "$src/bad|dir"
    touch "$src/bad|dir/inside.txt"
    ln -s A.EXE "$src/link"
    mkfifo "$src/fifo"
fi
pack "$src"
expect_refused "bad names"
expect_line "names/CON" "device CON"
expect_line "names/nul.txt" "device NUL"
expect_line "names/Lpt1.dat" "device LPT1"
expect_line "names/dot." "ends with a dot"
expect_line "names/space " "ends with a space"
expect_line "readme.txt" "README.TXT" "only in case"
expect_line "names/a"$'\xc3\xbf' "0xFF"
if grep -q "first" "$T/err"; then fail "a first name byte 0xFF was refused"; fi
if grep -q "A.EXE" "$T/err"; then fail "a good name was refused"; fi
if $native; then
    expect_line "names/q?.txt" "'?'"
    expect_line "names/lt<" "'<'"
    expect_line "names/co:lon" "':'"
    expect_line "names/back\\slash" "directory separator"
    expect_line "names/ctl" "control character 0x01"
    expect_line "names/bad|dir:" "'|'"
    if grep -q "inside.txt" "$T/err"; then fail "a file below a refused directory was reported too"; fi
    expect_line "names/"$'\xd0\x96'".txt" "code page 1252"
    expect_line "names/link" "symbolic link"
    expect_line "names/fifo" "FIFO"
fi

# The code page decides what can be written: Cyrillic fits 1251.
if $native; then
    src=$T/cyrillic
    mkdir -p "$src"
    touch "$src/A.EXE" "$src/"$'\xd0\x96'".txt"
    pack "$src" -q
    expect_refused "Cyrillic in 1252"
    pack "$src" -q --code-page 1251
    [[ $rc == 0 ]] || { cat "$T/err" >&2; fail "Cyrillic name in code page 1251: exit $rc"; }
    rm -rf "$T/out"
fi

# Nothing to pack: an empty tree, and a tree of empty directories (which warns as well).
mkdir -p "$T/empty" "$T/hollow/a/b" "$T/hollow/c"
pack "$T/empty"
expect_refused "empty source"
expect_line "empty" "holds no files"
pack "$T/hollow"
expect_refused "only empty directories"
expect_line "hollow" "holds no files"
expect_line "warning" "hollow/a" "left out"
if grep -q "hollow/a/b" "$T/err"; then fail "an empty directory inside an empty one was reported"; fi

# Header texts: 63 bytes in the code page fit, 64 do not; the count is in code page bytes.
src=$T/one
mkdir -p "$src"
echo data >"$src/A.EXE"
long64=$(printf 'x%.0s' {1..64})
pack "$src" --caption "$long64"
expect_refused "64-byte caption"
expect_line "--caption" "64 bytes" "63"
e_acute63=$(printf '\xc3\xa9%.0s' {1..63})  # 126 bytes of UTF-8, 63 in code page 1252
pack "$src" -q --caption "$e_acute63" --subtitle "$(printf 'y%.0s' {1..63})"
[[ $rc == 0 ]] || { cat "$T/err" >&2; fail "63-byte texts were refused"; }
rm -rf "$T/out"
if $native; then
    pack "$src" --name $'\xe4\xb8\xad'
    expect_refused "name outside the code page"
    expect_line "--name" "code page 1252"
fi

# A refused run leaves an installer already in the output directory alone.
mkdir -p "$T/out"
echo previous >"$T/out/SETUP.EXE"
mkdir -p "$T/names2"
touch "$T/names2/AUX"
rc=0
$RUN "$GLOBPACK" "$T/names2" -o "$T/out" --stub "$STUB" >/dev/null 2>"$T/err" || rc=$?
[[ $rc == 2 ]] || fail "device name over an existing installer: exit $rc"
[[ $(cat "$T/out/SETUP.EXE") == previous ]] || fail "a refused run changed the existing installer"
[[ $(ls "$T/out") == SETUP.EXE ]] || fail "a refused run left files: $(ls "$T/out")"
rm -rf "$T/out"

# Sizes: a file of 4 GiB, and 4 GiB in all (sparse files: nothing is read before the refusal).
src=$T/big
mkdir -p "$src"
echo data >"$src/A.EXE"
truncate -s 4G "$src/HUGE.DAT"
pack "$src"
expect_refused "4 GiB file"
expect_line "big/HUGE.DAT" "4294967296 bytes" "4 GiB"
rm "$src/HUGE.DAT"
truncate -s 2G "$src/HALF1.DAT"
truncate -s 2G "$src/HALF2.DAT"
pack "$src"
expect_refused "4 GiB in all"
expect_line "big" "4294967301 bytes" "4 GiB in all"

echo "globpack refusals: ok"
