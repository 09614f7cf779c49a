#!/usr/bin/env bash
# Installs what is missing (as root), builds both presets and runs every test; non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh
fi

cmake --preset win32
cmake --build --preset win32
cmake --preset native
cmake --build --preset native
cmake --preset fuzz
cmake --build --preset fuzz

status=0
ctest --preset win32 || status=1
ctest --preset native || status=1
ctest --preset fuzz || status=1 # each fuzz target for a few seconds (FUZZ_SECONDS)
exit $status
