#!/usr/bin/env bash
# Builds the program twice from the same sources, in two fresh build folders,
# and checks that the two files are the same to the byte.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/framelatch-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

for build in one two; do
    cmake -S "$source_dir" -B "$work/$build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$work/$build" --target Framelatch -j"$(nproc)" >/dev/null
done

sha256sum "$work"/one/Framelatch.exe "$work"/two/Framelatch.exe
if ! cmp "$work/one/Framelatch.exe" "$work/two/Framelatch.exe"; then
    echo "reproducible-build: two builds of the same sources differ" >&2
    exit 1
fi
echo "reproducible-build: identical"
