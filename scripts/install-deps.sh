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
    clang libclang-rt-14-dev curl python3 openssl xdelta3 nginx
)
# Wine's 32-bit side only where the win32 build will run: the kernel runs 32-bit programs (elsewhere
# its i386 packages install "successfully" but nothing in them can start) and the win64 build is not
# forced.
if [ "$(scripts/windows-build.sh --kernel 2>/dev/null)" = win32 ] && [ "${LUMORADEX_WINDOWS_BUILD:-}" != win64 ]; then
    packages+=(wine32:i386)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0

if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of a sync serves an index that does not match its release file for a while:
# tried again a few times, then what it has is enough unless the install says otherwise.
update_errors=$(mktemp)
for attempt in 1 2 3; do
    if apt-get update -q 2>"$update_errors"; then
        break
    fi
    if [ $attempt = 3 ]; then
        failed=$(grep -Eo '(Failed to fetch|File has unexpected size)[^;]*' "$update_errors" | head -n 3 | tr '\n' ' ')
        echo "install-deps: apt-get update failed 3 times (${failed:-$(tail -n 1 "$update_errors")}); going on with the package lists there are" >&2
        break
    fi
    sleep 15
done
rm -f "$update_errors"

if apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    exit 0
fi
# Without Wine's 32-bit side the win64 build runs (scripts/windows-build.sh sees that the loader is
# missing): everything else is still worth installing.
if [[ " ${missing[*]} " == *" wine32:i386 "* ]]; then
    others=()
    for package in "${missing[@]}"; do
        [ "$package" = wine32:i386 ] || others+=("$package")
    done
    echo "install-deps: wine32:i386 could not be installed, so the tests and the demo run the win64 build;" \
         "run scripts/install-deps.sh again once the package mirror serves it for the win32 build" >&2
    if [ ${#others[@]} = 0 ] || apt-get install -y -q --no-install-recommends "${others[@]}"; then
        exit 0
    fi
fi
exit 1
