#!/usr/bin/env bash
# Installs, from Debian's packages only, everything the build, the tests and the demo need
# on a fresh Debian 12 machine. Run as root. Safe to run again: it installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake ninja-build g++ make pkg-config file
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
    wine wine64 fonts-wine fonts-liberation
    xvfb xauth xdotool x11-apps x11-utils imagemagick
    googletest libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev
    clang libclang-rt-14-dev curl python3 openssl
)
# Wine's 32-bit side only where the kernel runs 32-bit programs: elsewhere its i386 packages install
# "successfully" but nothing in them can start.
if [ "$(scripts/windows-build.sh --kernel 2>/dev/null)" = win32 ]; then
    packages+=(wine32:i386)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
    if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
