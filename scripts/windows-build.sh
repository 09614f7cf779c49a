#!/usr/bin/env bash
# Which Windows build this machine runs under Wine: prints "win32" or "win64" on standard output and
# one line saying why on standard error. Every script and the native tree decide through it.
#   LUMORADEX_WINDOWS_BUILD=win32|win64   forces the choice (to try either path on any machine)
#   windows-build.sh --kernel             the kernel's answer alone, whatever the variable says or
#                                         Wine has installed (what install-deps.sh installs for)
# Wine's 32-bit loader is an i386 Linux program, and some kernels refuse every one of those (IA-32
# emulation off): there only Wine's 64-bit side runs, so the tests run the x86-64 build. The same
# goes where the kernel would run it but Wine's 32-bit side is not installed or cannot start (its
# packages could not be had from the mirror, say).
# For the tests of this script: LUMORADEX_KERNEL_ANSWER=win32|win64 stands for the kernel's answer,
# LUMORADEX_WINE32_LOADER for the path of Wine's 32-bit loader.
set -euo pipefail
cd "$(dirname "$0")/.."

# A complete i386 ELF executable of 96 bytes: one loadable segment whose code is
# "mov eax, 1; mov ebx, 32; int 0x80", the exit system call with status 32.
i386_exit_32='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
i386_exit_32+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
i386_exit_32+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
i386_exit_32+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
i386_exit_32+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
i386_exit_32+='\xb8\x01\x00\x00\x00\xbb\x20\x00\x00\x00\xcd\x80'

# Runs the program from the build folder, not /tmp, which some machines mount without execution.
kernel_runs_i386() {
    mkdir -p build
    local folder status
    folder=$(mktemp -d build/.i386-probe.XXXXXX)
    printf '%b' "$i386_exit_32" >"$folder/exit32"
    chmod +x "$folder/exit32"
    status=0
    probe_error=$("$folder/exit32" 2>&1) || status=$?
    rm -rf "$folder"
    probe_error=${probe_error##*: }
    probe_error=${probe_error:-exit status $status}
    [ "$status" = 32 ]
}

kernel_choice() {
    case ${LUMORADEX_KERNEL_ANSWER:-} in
    win32 | win64)
        echo "$LUMORADEX_KERNEL_ANSWER"
        echo "Windows build $LUMORADEX_KERNEL_ANSWER: the kernel's answer as given by LUMORADEX_KERNEL_ANSWER" >&2
        return
        ;;
    esac
    if kernel_runs_i386; then
        echo win32
        echo "Windows build win32: this kernel runs 32-bit programs, so Wine's 32-bit side runs" >&2
    else
        echo win64
        echo "Windows build win64: this kernel does not run 32-bit programs ($probe_error)," \
             "so only Wine's 64-bit side runs; LUMORADEX_WINDOWS_BUILD=win32 forces the other" >&2
    fi
}

# The loader itself answers, before any prefix exists.
wine32_loader=${LUMORADEX_WINE32_LOADER:-/usr/lib/wine/wine}
wine32_starts() { [ -x "$wine32_loader" ] && "$wine32_loader" --version >/dev/null 2>&1 </dev/null; }

machine_choice() {
    local kernel reason
    reason=$(mktemp)
    kernel=$(kernel_choice 2>"$reason")
    if [ "$kernel" = win32 ] && ! wine32_starts; then
        rm -f "$reason"
        echo win64
        echo "Windows build win64: this kernel runs 32-bit programs, but Wine's 32-bit loader" \
             "($wine32_loader) is missing or cannot start, so Wine's 64-bit side runs; for the win32 build," \
             "install wine32:i386 (scripts/install-deps.sh again, once the package mirror serves it)" >&2
        return
    fi
    cat "$reason" >&2
    rm -f "$reason"
    echo "$kernel"
}

if [ "${1:-}" = --kernel ]; then
    kernel_choice
    exit
fi
case ${LUMORADEX_WINDOWS_BUILD:-} in
win32 | win64)
    echo "$LUMORADEX_WINDOWS_BUILD"
    echo "Windows build $LUMORADEX_WINDOWS_BUILD: forced by LUMORADEX_WINDOWS_BUILD" >&2
    ;;
'') machine_choice ;;
*)
    echo "LUMORADEX_WINDOWS_BUILD must be win32 or win64, not '$LUMORADEX_WINDOWS_BUILD'" >&2
    exit 2
    ;;
esac
