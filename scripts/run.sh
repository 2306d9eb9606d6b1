#!/usr/bin/env bash
# Installs what is missing, builds Framelatch and runs it beside the stand-in
# target under Wine: on your display when there is one; otherwise on a
# virtual display, where it presses both buttons and saves screenshots.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

./scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows -j"$(nproc)"
bin=$PWD/build/windows

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    # A prefix of the project's own, set up once, with the fonts the program needs.
    tests/wine/session.sh prefix "$PWD/build/wineprefix"
    export WINEPREFIX=$PWD/build/wineprefix WINEARCH=win32 WINEDEBUG=-all
    echo "Running on $DISPLAY: close FLTX to end."
    wine "$bin/DuskVein.exe" >/dev/null 2>&1 &
    target=$!
    wine "$bin/Framelatch.exe" >/dev/null 2>&1 || true
    kill "$target" 2>/dev/null || true
    exit 0
fi

echo "No display: running on a virtual one."
state=$(mktemp "${TMPDIR:-/tmp}/framelatch-demo.XXXXXX")
trap 'tests/wine/session.sh stop "$state"' EXIT
tests/wine/session.sh start "$state"
FRAMELATCH_SESSION=$state FRAMELATCH_BIN=$bin python3 scripts/demo.py "$PWD/build/screenshots"
