#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit
# tests natively; then, for the 32-bit and the 64-bit build, the checks of the
# program file, and the tests on a private Wine session for each build this
# host can run under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/wine-host.sh
# What the builds run on, as "Wine 8.0 (Debian 12)".
wine_version=$("$(tests/wine/session.sh loader win64)" --version 2>/dev/null) || wine_version=unknown
wine_version=${wine_version%% *}
platform="Wine ${wine_version#wine-} (Debian $(cut -d. -f1 /etc/debian_version))"
if [ "$arch" = win32 ]; then
    under_wine=(windows windows64)
    summary="$platform: both builds ($why)"
else
    under_wine=(windows64)
    summary="$platform: the 64-bit build only (32-bit build not run under Wine: $why;"
    summary+=" the tests that run it beside the 64-bit build are skipped)"
fi
echo "$summary"
trap 'status=$?; echo "$summary"; exit $status' EXIT

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
done
