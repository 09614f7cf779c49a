#!/usr/bin/env bash
# The benchmarks, one command (not part of the tests): footprint, check latency, update throughput
# and memory, the application's downtime, patched releases and hostile headers under Wine against
# the loopback server, then the fault injection with 200 kills and the fuzz targets for minutes. Prints tables;
# BENCHMARKS.md explains and records them.
#   bash bench/run.sh
# Settings (environment): ROUNDS (update rounds, 5), CHECK_ROUNDS (15), KILL_TRIALS (200),
# FUZZ_SECONDS (300 per target); NATIVE_BUILD, FUZZ_BUILD: build trees to use instead of the
# presets' (already configured for the same UPDATE_SERVER_URL and Windows build); EARLIER_UPDATER:
# a MAJLumoradex.exe of an earlier commit, built for the same server and Windows build, whose checks,
# updates and hostile-header runs are measured beside this one's (before and after a change, in one run).
# Both Windows builds are compiled; the figures are those of the one this machine's Wine runs
# (scripts/windows-build.sh, which LUMORADEX_WINDOWS_BUILD overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-5}
check_rounds=${CHECK_ROUNDS:-15}
kill_trials=${KILL_TRIALS:-200}
fuzz_seconds=${FUZZ_SECONDS:-300}

windows=$(scripts/windows-build.sh)
for preset in win32 win64; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset >/dev/null
done
if [ -z "${NATIVE_BUILD:-}" ]; then
    cmake --preset native -DLUMORADEX_WINDOWS_BUILD="$windows" >/dev/null
fi
native=${NATIVE_BUILD:-build/native}
cmake --build "$native" --target lumoradex-bench fault_injection_tests >/dev/null

state=$native/wine
tests/wine/session.sh start "$state" "$windows" >/dev/null
trap 'tests/wine/session.sh stop "$state" >/dev/null 2>&1 || true' EXIT
eval "$(tests/wine/session.sh env "$state")"
# The throughput bench leaves the session's windows unmanaged while it runs (see update_bench.cpp);
# an interrupted bench must not leave them so for the tests.
unmanaged_off() { "$WINELOADER" reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true; }
trap 'unmanaged_off; tests/wine/session.sh stop "$state" >/dev/null 2>&1 || true' EXIT
export LUMORADEX_WINE_STATE=$state

echo "== Machine"
echo "cores: $(nproc); CPU: $(lscpu | sed -n 's/^Model name: *//p'); memory: $(free -g | awk '/^Mem:/ {print $2}') GiB"
echo "kernel: $(uname -r); $("$WINELOADER" --version) (the $windows build); curl $(curl --version | head -n 1 | cut -d' ' -f2)"

echo
echo "== Footprint"
# Windows' own DLLs; anything else (a MinGW runtime DLL, say) would have to ship beside the exe.
own='^(KERNEL32|USER32|GDI32|SHELL32|COMCTL32|VERSION|WININET|ADVAPI32|msvcrt|ole32|OLEAUT32|SHLWAPI|UxTheme)\.dll$'
printf '%-30s %12s %12s %8s\n' item measured goal verdict
for build in win32 win64; do
    exe=build/$build/MAJLumoradex.exe
    size=$(stat -c %s "$exe")
    objdump=$([ $build = win32 ] && echo i686 || echo x86_64)-w64-mingw32-objdump
    dlls=$($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
    foreign=$(for dll in $dlls; do echo "$dll"; done | grep -Eiv "$own" || true)
    printf '%-30s %9.1f KiB %12s %8s\n' "$build MAJLumoradex.exe size" "$(awk "BEGIN {print $size / 1024}")" \
        "< 512 KiB" "$([ "$size" -lt $((512 * 1024)) ] && echo met || echo MISSED)"
    printf '%-30s %12s %12s %8s\n' "$build imported DLLs" "$(echo $dlls | wc -w)" "Windows' own" \
        "$([ -z "$foreign" ] && echo met || echo "MISSED ($foreign)")"
    echo "$build imports: $dlls"
done

echo
echo "== Check latency"
"$native/bench/lumoradex-bench" check "$check_rounds" ${EARLIER_UPDATER:+"$EARLIER_UPDATER"}
echo
echo "== Update throughput and memory"
"$native/bench/lumoradex-bench" throughput "$rounds" ${EARLIER_UPDATER:+"$EARLIER_UPDATER"}
echo
echo "== Application downtime"
"$native/bench/lumoradex-bench" downtime "$rounds"
echo
echo "== Only what changed (signed releases, patches)"
"$native/bench/lumoradex-bench" patches "$rounds"
echo
echo "== Resumed downloads"
"$native/bench/lumoradex-bench" resume "$rounds"
echo
echo "== Hostile headers"
"$native/bench/lumoradex-bench" headers 1 ${EARLIER_UPDATER:+"$EARLIER_UPDATER"}

echo
echo "== Fault injection ($kill_trials kills)"
LUMORADEX_KILL_TRIALS=$kill_trials "$native/tests/faults/fault_injection_tests" --gtest_brief=1 |
    grep -E '^(kill trials|trial |\[  (PASSED|FAILED|SKIPPED) )|FAILED|Failure|Which is|did not end' || true

tests/wine/session.sh stop "$state" >/dev/null
trap - EXIT
echo
echo "== Fuzzing (${fuzz_seconds} s per target)"
scripts/fuzz.sh "$fuzz_seconds" "${FUZZ_BUILD:-build/fuzz}" | tail -n 3
