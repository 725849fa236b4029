#!/usr/bin/env bash
# Runs one tests/tools script in a fresh, empty TEST_TMPDIR. The script is given, in its
# environment: GLOBPACK and GLOBX (the tools), STUB (the installer stub to pack with), RUN (empty
# natively; the Wine wrapper in the win32 build, to put before GLOBPACK and GLOBX) and
# TEST_TMPDIR. It exits 0 to pass, 77 to be skipped, anything else to fail.
set -euo pipefail

script=${1:?usage: tool-test.sh SCRIPT}
: "${TEST_TMPDIR:?TEST_TMPDIR is not set}"

if [[ ! -f ${STUB:-} ]]; then
    echo "no installer stub at '${STUB:-}': build the win32 preset first (./dev.sh build)" >&2
    exit 77
fi

rm -rf -- "$TEST_TMPDIR"
mkdir -p -- "$TEST_TMPDIR"
exec bash "$script"
