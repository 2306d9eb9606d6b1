#!/usr/bin/env bash
# Benchmarks Framelatch.exe against the floor (a bare Win32 program doing the
# same job) under Wine on a private virtual display, and prints a table.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

./scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows -j"$(nproc)"

state=$(mktemp "${TMPDIR:-/tmp}/framelatch-bench.XXXXXX")
trap 'tests/wine/session.sh stop "$state"' EXIT
tests/wine/session.sh start "$state"
FRAMELATCH_SESSION=$state FRAMELATCH_BIN=$PWD/build/windows python3 bench/run.py "$@"
