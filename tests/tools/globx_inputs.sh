#!/usr/bin/env bash
# globx tells the truth about its input: before printing anything it checks that it was given an
# installer, and says in one line what it was given instead (exit 2). Continuation volumes are
# found under their names in any case, and --volumes adds a directory to search.
set -euo pipefail
cd "$TEST_TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }
run() {  # run STATUS ARGS...: stdout in out.txt, stderr in err.txt
    local want=$1 got=0
    shift
    timeout 60 $RUN "$GLOBX" "$@" >out.txt 2>err.txt </dev/null || got=$?
    [[ $got == "$want" ]] || fail "globx $* exited $got, expected $want; stderr: $(cat err.txt)"
}

# Three volumes: SETUP.EXE, GLOB1.DAT, GLOB2.DAT.
mkdir -p src
head -c $((3 << 20)) /dev/urandom >src/DATA.BIN
printf 'x' >src/A.EXE
$RUN "$GLOBPACK" --stub "$STUB" --exe A.EXE -q src -o set || fail "globpack exited $?"
[[ -f set/GLOB2.DAT ]] || fail "expected three volumes: $(ls set)"
cp -- "$STUB" stub.exe
head -c 5000 /dev/urandom >garbage.bin
{ printf '\x7fELF\x01\x01\x01'; head -c 3000 /dev/zero; } >program.elf
# A continuation volume may start with "MZ": a member that is a program, cut by the boundary.
mkdir -p mz
{ printf 'MZ'; head -c 3000 /dev/urandom; } >mz/glob4.dat

# Each input, what globx must say about it (a part of the one stderr line).
inputs=(
    set                 "set: is a directory"
    stub.exe            "stub.exe: no archive: this is an installer stub without its archive"
    program.elf         "program.elf: not an installer"
    garbage.bin         "garbage.bin: not an installer"
    set/GLOB1.DAT       "set/GLOB1.DAT: is a continuation volume (disk 2): run globx on the SETUP.EXE of its set"
    set/GLOB2.DAT       "set/GLOB2.DAT: is a continuation volume (disk 3)"
    mz/glob4.dat        "mz/glob4.dat: is a continuation volume (disk 5)"
)
for ((i = 0; i < ${#inputs[@]}; i += 2)); do
    for verb in list test extract; do
        args=("$verb" "${inputs[i]}")
        [[ $verb == extract ]] && args+=(-d out)
        run 2 "${args[@]}"
        [[ ! -s out.txt ]] || fail "globx ${args[*]} printed: $(head -c 300 out.txt)"
        [[ $(wc -l <err.txt) == 1 ]] || fail "globx ${args[*]}: not one line: $(cat err.txt)"
        grep -qF "${inputs[i + 1]}" err.txt || fail "globx ${args[*]}: $(cat err.txt)"
        [[ ! -e out ]] || fail "globx ${args[*]} created the target directory"
    done
done

# Volume names in any case, beside the installer.
mv set/GLOB1.DAT set/Glob1.Dat
mv set/GLOB2.DAT set/glob2.DAT
run 0 test set/SETUP.EXE

# --volumes adds a directory: GLOB1 stays beside the installer, GLOB2 moves away.
mkdir -p elsewhere
mv set/glob2.DAT elsewhere/GLOB2.DAT
run 2 test set/SETUP.EXE
grep -q 'GLOB2.DAT (disk 3) is missing' err.txt || fail "missing GLOB2: $(cat err.txt)"
run 0 test set/SETUP.EXE --volumes elsewhere
mkdir -p third
mv elsewhere/GLOB2.DAT third/glob2.dat
run 0 test set/SETUP.EXE --volumes elsewhere --volumes third
echo "globx inputs: ok"
