#!/usr/bin/env bash
# Runs each libFuzzer target of the platform-free code for a given time (ASan + UBSan), after
# building the fuzz preset; non-zero when a target crashes, reports a sanitizer error or breaks
# one of its properties (the input that did so is saved in the build tree's artifacts folder).
#   scripts/fuzz.sh [SECONDS] [BUILD_DIR]      defaults: 60 seconds each, build/fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build/fuzz}

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build"

status=0
printf '%-18s %8s %12s %10s %9s %s\n' target seconds runs exec/s coverage result
for name in version_page numeric_reading vcdiff_decoder; do
    grown="$build/tests/fuzz/corpus/$name"
    artifacts="$build/tests/fuzz/artifacts/$name/"
    mkdir -p "$grown" "$artifacts"
    log="$build/tests/fuzz/$name.log"
    result=clean
    "$build/tests/fuzz/${name}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$grown" "tests/fuzz/corpus/$name" >"$log" 2>&1 ||
        { result="FAILED (see $log)"; status=1; }
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-18s %8s %12s %10s %9s %s\n' "$name" "$seconds" "${runs:--}" "${rate:--}" "${coverage:--}" "$result"
done
exit $status
