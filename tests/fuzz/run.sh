#!/usr/bin/env bash
# Builds the extraction fuzz target with clang (libFuzzer, ASan, UBSan) and runs it for a bounded
# time. Usage: run.sh BUILD_DIR SECONDS. Exits 77 (skipped) when clang's fuzzer runtime is missing.
set -euo pipefail
root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/../.." && pwd)
out=${1:?build directory}/fuzz
seconds=${2:-60}
mkdir -p "$out/corpus"
clang=$(command -v clang++ || true)
if [[ -z $clang ]] || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
        | "$clang" -x c++ -fsanitize=fuzzer - -o "$out/probe" 2>/dev/null; then
    echo "clang++ with libFuzzer is not installed (clang, libclang-rt-14-dev): skipped"
    exit 77
fi
sources=()
for f in "$root"/archive/*.cpp; do
    [[ $f == *-win32.cpp ]] || sources+=("$f")
done
"$clang" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root/archive" "$root/tests/fuzz/ExtractFuzz.cpp" "${sources[@]}" -o "$out/extract_fuzz"
# Seeds: an option byte, a header, and members the fuzzer can grow from ("ab" codes to B0 8C 48).
python3 - "$out/corpus" <<'PY'
import sys, os
header = b"".join(t.encode().ljust(64, b"\0") for t in ["App", "Setup", "", "C:\\APP", "1", "A.EXE"])
header += (3).to_bytes(4, "little")
fields = (2).to_bytes(4, "little") + (132000000000000000).to_bytes(8, "little") * 3
members = b"a.txt\0" + fields + bytes([0xB0, 0x8C, 0x48]) + b"d\\e\0" + fields + bytes([0x00])
for name, flags, tail in [("seed-extract", 0, b"\xff\xff"), ("seed-list", 2, b""), ("seed-overwrite", 1, b"\xff\xff")]:
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(bytes([flags]) + header + members + tail)
PY
cd "$out"
exec ./extract_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 corpus
