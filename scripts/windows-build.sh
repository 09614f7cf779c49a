#!/usr/bin/env bash
# Which Windows build this machine runs under Wine: prints "win32" or "win64" on standard output and
# one line saying why on standard error. Every script and the native tree decide through it.
#   LUMORADEX_WINDOWS_BUILD=win32|win64   forces the choice (to try either path on any machine)
#   windows-build.sh --kernel             the kernel's answer alone, whatever the variable says
# Wine's 32-bit loader is an i386 Linux program, and some kernels refuse every one of those (IA-32
# emulation off): there only Wine's 64-bit side runs, so the tests run the x86-64 build.
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
    if kernel_runs_i386; then
        echo win32
        echo "Windows build win32: this kernel runs 32-bit programs, so Wine's 32-bit side runs" >&2
    else
        echo win64
        echo "Windows build win64: this kernel does not run 32-bit programs ($probe_error)," \
             "so only Wine's 64-bit side runs; LUMORADEX_WINDOWS_BUILD=win32 forces the other" >&2
    fi
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
'') kernel_choice ;;
*)
    echo "LUMORADEX_WINDOWS_BUILD must be win32 or win64, not '$LUMORADEX_WINDOWS_BUILD'" >&2
    exit 2
    ;;
esac
