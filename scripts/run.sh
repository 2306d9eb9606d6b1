#!/usr/bin/env bash
# Installs what is missing, builds Framelatch and runs it beside the stand-in
# target under Wine: on your display when there is one; otherwise on a
# virtual display, where it presses both buttons and saves screenshots.
# It runs the 32-bit program: with the 32-bit Wine loader where this host can
# start it, otherwise under Wine's WoW64 mode where the system's Wine has one;
# failing both, the 64-bit program.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# Under sudo, Wine would run as root, away from the user's display and in a
# prefix the user does not own. The script asks sudo itself for the installing.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ]; then
    echo "run.sh: run it as yourself, without sudo: it uses sudo only to install what is missing," \
         "then opens FLTX on your display in a Wine prefix you own." >&2
    exit 1
fi

source scripts/wine-host.sh
bits=${arch#win}
# build/wineprefix for the 32-bit build, build/wineprefix64 for the 64-bit one
prefix=$PWD/build/wineprefix${bits#32}
prefix_arch=$arch
if [ "$arch" = win64 ] && [ "${FRAMELATCH_WINE_ARCH:-}" != win64 ]; then
    if [ -n "$wow64" ]; then
        export FRAMELATCH_WOW64=1
        arch=win32 preset=windows bits=32 prefix=$PWD/build/wineprefix-wow64
        why="$why, so Wine's WoW64 mode runs it in a 64-bit prefix"
    else
        why="$why, and not under WoW64 either: $wow64_why"
    fi
fi
cmake --preset "$preset"
cmake --build --preset "$preset" -j"$(nproc)"
bin=$PWD/build/$preset
echo "Running the $bits-bit build (build/$preset/Framelatch.exe): $why."

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    # A prefix of the project's own, set up once, with the fonts the program needs.
    tests/wine/session.sh prefix "$prefix" "$arch"
    loader=$(tests/wine/wine-host.sh loader "$arch")
    export WINEPREFIX=$prefix WINEARCH=$prefix_arch WINELOADER=$loader WINEDEBUG=-all
    # A WoW64 Wine is served by its own server.
    [ -z "${FRAMELATCH_WOW64:-}" ] || export WINESERVER=${loader%/*}/wineserver64
    # A window manager that draws the target's frame keeps its title bar when
    # the style loses it; Wine's own frames show the change at once.
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    echo "In ${prefix#"$PWD/"} Wine draws the window frames itself (winecfg: no window manager decoration), so TB shows at once."
    echo "Running on $DISPLAY: close FLTX to end."
    "$loader" "$bin/DuskVein.exe" >/dev/null 2>&1 &
    target=$!
    "$loader" "$bin/Framelatch.exe" >/dev/null 2>&1 || true
    kill "$target" 2>/dev/null || true
    exit 0
fi

echo "No display: running on a virtual one."
state=$(mktemp "${TMPDIR:-/tmp}/framelatch-demo.XXXXXX")
trap 'tests/wine/session.sh stop "$state"' EXIT
tests/wine/session.sh start "$state" "$arch"
FRAMELATCH_SESSION=$state FRAMELATCH_BIN=$bin python3 scripts/demo.py "$PWD/build/screenshots"
