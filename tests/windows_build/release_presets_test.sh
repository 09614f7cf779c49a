#!/usr/bin/env bash
# The release presets make programs for users: configured without the maker's public key they are
# refused, unless the maker asks for an unsigned program by name. Configure only, in scratch folders.
#   release_presets_test.sh CMAKE_PROGRAM
set -uo pipefail
cd "$(dirname "$0")/../.."
cmake=${1:?usage: release_presets_test.sh CMAKE_PROGRAM}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

expect() { # description expected actual
    if [ "$2" != "$3" ]; then
        echo "FAILED: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
configure() { # preset tree [cmake arguments...]: the exit status, the output in tree.log
    local preset=$1 tree=$scratch/$2
    shift 2
    "$cmake" --preset "$preset" -B "$tree" "$@" >"$tree.log" 2>&1
}

for preset in win32-release win64-release; do
    configure $preset $preset-unkeyed
    expect "$preset without a key is refused" 1 $?
    expect "with a message that names the key and the way round it" 1 \
        "$(grep -c 'UPDATE_PUBLIC_KEY=.*LUMORADEX_UNSIGNED_RELEASE=ON' <(tr -d '\n' <"$scratch/$preset-unkeyed.log"))"
    configure $preset $preset-unsigned -DLUMORADEX_UNSIGNED_RELEASE=ON
    expect "$preset asked for an unsigned program configures" 0 $?
    configure $preset $preset-signed -DUPDATE_PUBLIC_KEY="$PWD/tests/keys/test_release_key.pub.pem"
    expect "$preset with the key configures" 0 $?
done

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))
