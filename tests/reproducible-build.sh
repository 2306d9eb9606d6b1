#!/usr/bin/env bash
# Builds the program and its release zip twice from the same sources, with the
# toolchain file given, in two fresh build folders, and checks that both come
# out the same to the byte.
#
#   reproducible-build.sh TOOLCHAIN_FILE
set -euo pipefail
toolchain=${1:?usage: reproducible-build.sh TOOLCHAIN_FILE}
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/framelatch-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

for build in one two; do
    cmake -S "$source_dir" -B "$work/$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$work/$build" --target Framelatch -j"$(nproc)" >/dev/null
    cmake --build "$work/$build" --target package >/dev/null
    # A second later, so a time taken from the clock would show.
    sleep 1
done

status=0
zips=("$work"/one/Framelatch-*.zip)
[ -f "${zips[0]}" ] || { echo "reproducible-build: no release zip" >&2; exit 1; }
for file in Framelatch.exe "$(basename "${zips[0]}")" SHA256SUMS; do
    sha256sum "$work/one/$file" "$work/two/$file"
    cmp "$work/one/$file" "$work/two/$file" || status=1
done
grep -q " $(basename "${zips[0]}")\$" "$work/one/SHA256SUMS" ||
    { echo "reproducible-build: SHA256SUMS does not list the zip" >&2; status=1; }
if [ "$status" -ne 0 ]; then
    echo "reproducible-build: two builds of the same sources differ" >&2
    exit 1
fi
echo "reproducible-build: identical"
