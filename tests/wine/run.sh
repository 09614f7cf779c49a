#!/usr/bin/env bash
# Runs a Windows program inside the build tree's Wine session (see session.sh).
#   run.sh STATE_DIR program.exe [arguments...]
set -euo pipefail
state=${1:?usage: run.sh STATE_DIR program.exe [arguments...]}
shift
# Without a running session, stop here rather than run the program with no display.
variables=$("$(dirname "$0")/session.sh" env "$state")
eval "$variables"
exec "$WINELOADER" "$@"
