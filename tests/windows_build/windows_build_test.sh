#!/usr/bin/env bash
# The choice of the Windows build (scripts/windows-build.sh) and Wine's word where it cannot run,
# here and as on a kernel without IA-32 emulation (without_ia32).
#   windows_build_test.sh WITHOUT_IA32_PROGRAM
set -uo pipefail
cd "$(dirname "$0")/../.."
without_ia32=${1:?usage: windows_build_test.sh WITHOUT_IA32_PROGRAM}
failures=0

expect() { # description expected actual
    if [ "$2" != "$3" ]; then
        echo "FAILED: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
choice() { scripts/windows-build.sh "$@" 2>/dev/null; }
reason() { scripts/windows-build.sh "$@" 2>&1 >/dev/null; }

unset LUMORADEX_WINDOWS_BUILD
kernel=$(choice --kernel)
expect "this kernel's answer is one of the builds" 1 "$([[ $kernel == win32 || $kernel == win64 ]] && echo 1)"
expect "without an override the kernel decides" "$kernel" "$(choice)"
expect "without IA-32 the win64 build runs" win64 "$("$without_ia32" scripts/windows-build.sh 2>/dev/null)"
expect "and the reason says so" 1 "$("$without_ia32" scripts/windows-build.sh 2>&1 >/dev/null |
    grep -c 'does not run 32-bit programs')"
expect "the probe leaves nothing behind" "" "$(ls -a build | grep i386-probe)"

for forced in win32 win64; do
    expect "LUMORADEX_WINDOWS_BUILD=$forced is obeyed" $forced "$(LUMORADEX_WINDOWS_BUILD=$forced choice)"
    expect "and says it was forced" 1 "$(LUMORADEX_WINDOWS_BUILD=$forced reason | grep -c forced)"
    expect "--kernel ignores LUMORADEX_WINDOWS_BUILD=$forced" "$kernel" "$(LUMORADEX_WINDOWS_BUILD=$forced choice --kernel)"
done
LUMORADEX_WINDOWS_BUILD=win16 choice >/dev/null
expect "an unknown build is refused" 2 $?

# A kernel that runs 32-bit programs, but Wine's 32-bit side missing (its packages not to be had) or
# unable to start: the win64 build runs, with its reason; a loader that starts gets the win32 build.
for loader in /nonexistent/wine /bin/false; do
    export LUMORADEX_KERNEL_ANSWER=win32 LUMORADEX_WINE32_LOADER=$loader
    expect "with the 32-bit loader $loader the win64 build runs" win64 "$(choice)"
    expect "and the reason names the loader and how to get it" 1 "$(reason | grep -c "loader ($loader) is missing or cannot start.*wine32:i386")"
    expect "in one line" 1 "$(reason | wc -l)"
    expect "the override still wins" win32 "$(LUMORADEX_WINDOWS_BUILD=win32 choice)"
    expect "the kernel's answer is still the kernel's" win32 "$(choice --kernel)"
done
expect "a 32-bit loader that starts runs the win32 build" win32 "$(LUMORADEX_WINE32_LOADER=/bin/true choice)"
unset LUMORADEX_KERNEL_ANSWER LUMORADEX_WINE32_LOADER

# Wine's 32-bit side on such a kernel: one line that says what failed and what to use instead.
state=$(mktemp -d)
words=$("$without_ia32" tests/wine/session.sh start "$state" win32 2>&1)
expect "a session of Wine's 32-bit side cannot start" 1 $?
expect "in one line" 1 "$(echo "$words" | wc -l)"
expect "that names the loader and the win64 build" 1 "$(echo "$words" | grep -c 'win32 loader .*win64 build')"
expect "and starts no display" "" "$(ls "$state" | grep -x xvfb.pid)"
rm -rf "$state"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))
