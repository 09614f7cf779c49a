#!/usr/bin/env bash
# Installs what is missing (as root), builds every test preset and runs every test; non-zero on any
# failure. Both Windows builds are compiled; the Windows-side, end-to-end and fault tests run the one
# this machine's Wine can run (scripts/windows-build.sh, which LUMORADEX_WINDOWS_BUILD overrides).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh
fi
windows=$(scripts/windows-build.sh)

for preset in win32 win64 win32-https win64-https; do
    cmake --preset $preset
    cmake --build --preset $preset
done
cmake --preset native -DLUMORADEX_WINDOWS_BUILD="$windows"
cmake --build --preset native
cmake --preset fuzz
cmake --build --preset fuzz

status=0
ctest --preset "$windows" || status=1
ctest --preset native || status=1
ctest --preset fuzz || status=1 # each fuzz target for a few seconds (FUZZ_SECONDS)
exit $status
