#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit
# tests natively, then the tests of the Windows build on a private Wine session.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

./scripts/install-deps.sh

jobs=$(nproc)
cmake --preset host
cmake --build --preset host -j"$jobs"
ctest --preset host -j"$jobs"

cmake --preset windows
cmake --build --preset windows -j"$jobs"
ctest --preset windows
