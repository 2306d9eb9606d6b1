#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit
# tests natively; then, for the 32-bit and the 64-bit build, the checks of the
# program file, and the tests on a private Wine session for each build this
# host can run under Wine. Where the system's Wine has a WoW64 mode (Wine 10
# and later), the 32-bit build's tests run once more under it, as Arch Linux's
# Wine and Wine 11 run 32-bit programs: in place of the 32-bit loader where this
# host cannot execute 32-bit code, beside it where it can.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/wine-host.sh
# What the builds run on, as "Wine 8.0 (Debian 12, osslsigncode 2.5)".
wine_version=$("$(tests/wine/wine-host.sh loader win64)" --version 2>/dev/null) || wine_version=unknown
wine_version=${wine_version%% *}
wine_version=${wine_version#wine-}
# The osslsigncode the release-signing tests signed with: Debian 12's own is 2.5, Debian 13's 2.9.
signer=$(osslsigncode --version 2>/dev/null | head -n 1 | cut -d' ' -f2 | tr -d ,) || true
platform="Wine $wine_version (Debian $(cut -d. -f1 /etc/debian_version), osslsigncode ${signer:-not installed})"

if [ "$arch" = win32 ]; then
    under_wine=(windows windows64)
    summary="$platform: both builds ($why)"
    if [ -n "$wow64" ]; then
        summary+=", and the 32-bit build under WoW64 (in a 64-bit prefix, alone and beside the 64-bit build,"
        summary+=" with no 32-bit loader)"
    else
        summary+="; not under WoW64 ($wow64_why)"
    fi
elif [ -n "$wow64" ]; then
    under_wine=(windows64)
    summary="$platform: both builds, the 32-bit build under WoW64 (in a 64-bit prefix, alone and beside the"
    summary+=" 64-bit build: $why)"
else
    under_wine=(windows64)
    summary="$platform: the 64-bit build only (32-bit build not run under Wine: $why; not under WoW64 either:"
    summary+=" $wow64_why; the tests that run it beside the 64-bit build are skipped)"
fi
echo "$summary"
# Every test skipped on the way, with its reason (tests/e2e/run.py adds them).
export FRAMELATCH_SKIP_LOG=$PWD/build/skipped-tests.log
mkdir -p build
: >"$FRAMELATCH_SKIP_LOG"
# The last line: which builds ran, and how many tests were skipped, and why,
# each reason once with its count.
skips() {
    local count
    count=$(wc -l <"$FRAMELATCH_SKIP_LOG")
    [ "$count" -gt 0 ] || { echo "no test skipped"; return; }
    # A reason may hold a semicolon of its own: the groups are set apart by " | ".
    echo "$count skipped: $(cut -f2- "$FRAMELATCH_SKIP_LOG" | sort | uniq -c | sort -rn |
        sed -E 's/^ *([0-9]+) (.*)$/\1 × \2/' | paste -sd '|' - | sed 's/|/ | /g')"
}
trap 'status=$?; echo "$summary; $(skips)"; exit $status' EXIT

jobs=$(nproc)
cmake --preset host
cmake --build --preset host -j"$jobs"
ctest --preset host -j"$jobs"

for preset in windows windows64; do
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j"$jobs"
    if [[ " ${under_wine[*]} " == *" $preset "* ]]; then
        ctest --preset "$preset"
    else
        # The program file can be checked anywhere; running it needs Wine.
        ctest --preset "$preset" --label-regex '^file$'
    fi
    # Under WoW64: the 32-bit build's tests, and the tests that run it beside the 64-bit build.
    if [ -n "$wow64" ]; then
        echo "Under WoW64 ($preset):"
        if [ "$preset" = windows ]; then
            FRAMELATCH_WOW64=1 ctest --preset "$preset" --label-regex '^wine$'
        else
            FRAMELATCH_WOW64=1 ctest --preset "$preset" --tests-regex '^e2e_mixed_builds$'
        fi
    fi
done
