#!/usr/bin/env bash
# Benchmarks Framelatch.exe against the floor (a bare Win32 program doing the
# same job, built for the same architecture) under Wine on a private virtual
# display, and prints a table. It measures the 32-bit build where this host
# runs 32-bit code under Wine, otherwise the 64-bit one.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/wine-host.sh
echo "Benchmarking the $arch build: $why."
cmake --preset "$preset"
cmake --build --preset "$preset" -j"$(nproc)"

state=$(mktemp "${TMPDIR:-/tmp}/framelatch-bench.XXXXXX")
trap 'tests/wine/session.sh stop "$state"' EXIT
tests/wine/session.sh start "$state" "$arch"
objdump=$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "build/$preset/CMakeCache.txt")
FRAMELATCH_SESSION=$state FRAMELATCH_BIN=$PWD/build/$preset FRAMELATCH_OBJDUMP=$objdump python3 bench/run.py "$@"
