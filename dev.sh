#!/usr/bin/env bash
# Builds, tests and demonstrates globsetup. Run ./dev.sh help for the commands.
set -euo pipefail

ROOT=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
cd -- "$ROOT"

PACKAGES=(
    cmake ninja-build g++ pkg-config libgtest-dev googletest libbenchmark-dev libcli11-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386
    xvfb xdotool x11-apps imagemagick fonts-wine fonts-liberation python3
    clang libclang-rt-dev  # the fuzz test's libFuzzer; without them it is skipped
    osslsigncode openssl   # the signed-installer test signs with a certificate of its own
)
TEST_PRESETS=(win32 native native-asan)
TEST_TIMEOUT=600   # seconds, for any one test
STUB="$ROOT/build/win32/bin/SETUP.EXE"

say() { printf '\n==> %s\n' "$*"; }
die() { printf 'dev.sh: %s\n' "$*" >&2; exit 1; }

usage() {
    cat <<'EOF'
usage: ./dev.sh COMMAND [ARGS]

  deps               install the Debian packages the build needs (only those missing)
  build [PRESET...]  configure and build the presets (default: win32, then native)
  test               deps, then build and run every test of native, native-asan and win32
                     (under Wine); prints a summary and fails if anything failed
  demo               deps, build, then pack the bundled sample into a three-volume installer,
                     list, test and extract it with globx and compare the result, then install it
                     with SETUP.EXE under Wine (Xvfb, or your $DISPLAY) and save screenshots of
                     its pages; under build/demo
  bench [ARGS...]    build native and run bench_coder with ARGS
  help               this text

Presets: native (GCC, -O2 -g: core, tools, tests, benchmarks), native-asan (ASan + UBSan),
win32 (MinGW-w64 i686, static; tests under Wine). Build trees are build/<preset>.
EOF
}

as_root() {
    if [[ $EUID -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        die "installing packages needs root, and sudo is not installed: run '$*' as root"
    fi
}

cmd_deps() {
    local missing=() package
    for package in "${PACKAGES[@]}"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    if [[ ${#missing[@]} -eq 0 ]]; then
        echo "deps: all ${#PACKAGES[@]} packages are installed"
        return
    fi
    say "Installing: ${missing[*]}"
    if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    as_root apt-get update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

# Configures and builds one preset; native builds take the win32 SETUP.EXE as globpack's stub.
build_preset() {
    local preset=$1 extra=()
    case $preset in
        native|native-asan) extra=("-DGLOB_STUB=$STUB") ;;
        win32) ;;
        *) die "unknown preset '$preset' (native, native-asan, win32)" ;;
    esac
    say "Configuring and building $preset"
    cmake --preset "$preset" "${extra[@]}" && cmake --build --preset "$preset"
}

cmd_build() {
    local presets=("$@")
    [[ ${#presets[@]} -gt 0 ]] || presets=(win32 native)
    mkdir -p build
    local preset
    for preset in "${presets[@]}"; do
        build_preset "$preset" || die "building $preset failed"
    done
}

# ctest's own summary gives the total and the failures; skipped tests print "***Skipped".
count_results() {
    local log=$1 line total failed skipped
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1) || true
    [[ -n $line ]] || { echo "0 0 0"; return; }
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    skipped=$(grep -c -F '***Skipped' "$log" || true)
    echo "$((total - failed - skipped)) $failed $skipped"
}

cmd_test() {
    cmd_deps
    mkdir -p build
    local preset start status summary=() passed=0 failed=0 skipped=0 bad=0 log p f s
    local -A built
    for preset in "${TEST_PRESETS[@]}"; do
        start=$SECONDS
        if build_preset "$preset"; then
            built[$preset]=1
            status=ok
        else
            bad=1
            status=FAILED
        fi
        summary+=("$(printf '%-6s %-12s %-7s %5ds' build "$preset" "$status" $((SECONDS - start)))")
    done
    for preset in "${TEST_PRESETS[@]}"; do
        if [[ -z ${built[$preset]:-} ]]; then
            summary+=("$(printf '%-6s %-12s %s' test "$preset" 'not run (build failed)')")
            continue
        fi
        say "Testing $preset"
        log="build/$preset/ctest.log"
        start=$SECONDS
        local only=()
        if [[ $preset == win32 ]] && ! wine_runs; then
            # Only the checks of the built files run; every test that needs Wine is skipped, and
            # the summary says so.
            echo "win32: $WINE_MISSING_REASON; running only the checks of the built files"
            only=(-R '^build\.')
        fi
        if ctest --preset "$preset" "${only[@]}" --output-on-failure --timeout "$TEST_TIMEOUT" 2>&1 | tee "$log"; then
            status=ok
        else
            status=FAILED
            bad=1
        fi
        [[ $preset != win32 ]] || build/win32/wine-run.sh --shutdown
        read -r p f s < <(count_results "$log")
        if [[ ${#only[@]} -gt 0 ]]; then
            local all
            all=$(ctest --preset "$preset" -N 2>/dev/null | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
            s=$((s + ${all:-0} - p - f))
            status="$status (Wine tests skipped: Wine cannot run here)"
        fi
        passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + s))
        summary+=("$(printf '%-6s %-12s %-7s %5ds  %d passed, %d failed, %d skipped' \
            test "$preset" "$status" $((SECONDS - start)) "$p" "$f" "$s")")
    done
    say "Summary"
    printf '  %s\n' "${summary[@]}"
    if [[ $bad -ne 0 && $failed -eq 0 ]]; then
        failed=1  # a failed build or a test run that ended early counts as a failure
    fi
    echo "total: $passed passed, $failed failed, $skipped skipped"
    return "$bad"
}

# Wine runs the win32 build's programs only where the kernel runs 32-bit programs; some kernels
# are booted with that switched off (dmesg: "32-bit emulation disabled").
wine_runs() {
    timeout 60 wine --version >/dev/null 2>&1
}

WINE_MISSING_REASON="Wine cannot run 32-bit programs on this machine (is the kernel's 32-bit emulation off? dmesg | grep -i 32-bit)"

human() { numfmt --to=iec-i --suffix=B --format='%.1f' "$1"; }

# step LABEL COMMAND...: runs COMMAND under a heading and records how long it took.
step() {
    local label=$1 start status=0
    shift
    say "$label"
    start=$(date +%s%N)
    "$@" || status=$?
    timings+=("$(printf '%-46s %6d ms' "$label" $((($(date +%s%N) - start) / 1000000)))")
    return "$status"
}

same_file_times() {  # files only: directories get the time of extraction
    diff <(cd "$1" && find . -type f -printf '%p %T@\n' | LC_ALL=C sort) \
         <(cd "$2" && find . -type f -printf '%p %T@\n' | LC_ALL=C sort)
}

cmd_demo() {
    cmd_deps
    cmd_build win32 native
    local bin="$ROOT/build/native/bin" out="$ROOT/build/demo" wine_globx="$ROOT/build/win32/bin/globx.exe"
    local globpack="$bin/globpack" globx="$bin/globx" installer="$ROOT/build/demo/installer/SETUP.EXE"
    [[ -x $globpack && -x $globx ]] || die "build/native/bin has no globpack or globx: see the build output"
    [[ -f $bin/SETUP.EXE ]] || die "no installer stub next to globpack ($bin/SETUP.EXE): the win32 build made none"

    rm -rf -- "$out"
    mkdir -p -- "$out"
    timings=()
    step "Generating the sample tree" python3 samples/make_sample.py "$out/source"
    step "Packing it with globpack" "$globpack" --name "Vornhelm Atlas" \
        --caption "Vornhelm Atlas Setup" --subtitle "Maps for every desk" --default-dir 'C:\ATLAS' \
        --version-text "2.1" --exe ATLAS.EXE "$out/source" -o "$out/installer"
    local volume
    for volume in SETUP.EXE GLOB1.DAT GLOB2.DAT; do
        [[ -f $out/installer/$volume ]] || die "the installer has no $volume: it should span at least three volumes"
    done
    step "Listing it with globx list" "$globx" list "$installer"
    step "Checking it with globx test" "$globx" test "$installer"
    if [[ -x $wine_globx ]] && wine_runs; then
        # A relative Windows path: CLI11 on Windows reads an argument that starts with '/' as an option.
        # shellcheck disable=SC2016
        step "Checking it with globx.exe under Wine" \
            bash -c 'cd "$1" && "$2" "$3" test "installer\\SETUP.EXE"' _ "$out" "$ROOT/build/win32/wine-run.sh" "$wine_globx"
        build/win32/wine-run.sh --shutdown
    fi
    step "Extracting it with globx extract" "$globx" extract "$installer" -d "$out/extracted"
    step "Comparing the extracted tree with the source" diff -r "$out/source" "$out/extracted" ||
        die "the extracted tree differs from the source"
    same_file_times "$out/source" "$out/extracted" || die "the extracted files' modification times differ from the source's"
    # The installer itself, walked through under Wine as a user would, on a private Xvfb display
    # (on yours when DISPLAY is set); tests/e2e/demo_walk.py checks the installed tree as well.
    local walk=0
    if wine_runs; then
        step "Installing it with SETUP.EXE under Wine" python3 tests/e2e/demo_walk.py \
            --bindir "$ROOT/build/win32/bin" --installer "$out/installer" --source "$out/source" \
            --out "$out/screenshots" ${DISPLAY:+--display "$DISPLAY"} || walk=$?
    else
        echo "$WINE_MISSING_REASON: SETUP.EXE is not walked through"
        walk=77
    fi
    case $walk in
        0) ;;
        77) echo "(SETUP.EXE was not walked through: see the line above)" ;;
        *) die "the walk through SETUP.EXE failed; see the screenshots in $out/walk/session" ;;
    esac

    local source_bytes packed_bytes=0 size file
    source_bytes=$(find "$out/source" -type f -printf '%s\n' | awk '{ n += $1 } END { print n }')
    say "Summary"
    echo "Vornhelm Atlas: $(find "$out/source" -type f | wc -l) files, $source_bytes bytes ($(human "$source_bytes"))"
    echo "Volumes in $out/installer:"
    for file in "$out/installer/SETUP.EXE" $(ls -v "$out"/installer/GLOB*.DAT); do
        size=$(stat -c %s "$file")
        packed_bytes=$((packed_bytes + size))
        printf '  %-10s %10d bytes  %s\n' "$(basename "$file")" "$size" "$(human "$size")"
    done
    printf '  %-10s %10d bytes  %s, %d%% of the source (stub included)\n' total "$packed_bytes" \
        "$(human "$packed_bytes")" $((packed_bytes * 100 / source_bytes))
    echo "Timings:"
    printf '  %s\n' "${timings[@]}"
    echo "The extracted tree matches the source byte for byte, with the same file times."
    if [[ $walk -eq 0 ]]; then
        echo "SETUP.EXE installed it under Wine with the same bytes and times; the pages it showed:"
        printf '  %s\n' "$out"/screenshots/[a-z]*.png
    fi
}

cmd_bench() {
    cmd_build native
    [[ -x build/native/bin/bench_coder ]] || die "bench_coder was not built (no bench/ sources?)"
    say "Running bench_coder"
    build/native/bin/bench_coder "$@"
}

command=${1:-help}
[[ $# -gt 0 ]] && shift
case $command in
    deps) cmd_deps ;;
    build) cmd_build "$@" ;;
    test) cmd_test ;;
    demo) cmd_demo ;;
    bench) cmd_bench "$@" ;;
    help|-h|--help) usage ;;
    *) usage >&2; die "unknown command '$command'" ;;
esac
