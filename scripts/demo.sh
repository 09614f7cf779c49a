#!/usr/bin/env bash
# The updater's main job against a local demo update server: the demo installation holds Lumoradex
# 4.2.0, the server publishes 4.2.1, so the window offers the update and installs it.
# With a display, the window opens there for you to use. Without one, it runs under Xvfb, clicks
# "Mettre à jour" itself, and saves screenshots of the offer and of the result.
# Both Windows builds are compiled; the demo runs the one this machine's Wine can run
# (scripts/windows-build.sh, which LUMORADEX_WINDOWS_BUILD overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh
fi
windows=$(scripts/windows-build.sh)
for preset in win32 win64; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset
done
cmake --preset native -DLUMORADEX_WINDOWS_BUILD="$windows" >/dev/null
cmake --build --preset native --target lumoradex-test-server

demo=$root/build/demo
output=$root/demo-output
state=$demo/wine
fixtures=$root/build/$windows/fixtures
server=$root/build/native/tests/e2e/lumoradex-test-server
mkdir -p "$output"

user_display=${DISPLAY:-}
tests/wine/session.sh start "$state" "$windows" >/dev/null
eval "$(tests/wine/session.sh env "$state")"
headless=1
if [ -n "$user_display" ]; then
    export DISPLAY=$user_display
    headless=0
fi

server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    tests/wine/session.sh stop "$state"
}
trap cleanup EXIT

# The demo installation: Lumoradex 4.2.0 and its data files, the updater beside them.
installation="$WINEPREFIX/drive_c/Program Files/LumoradexV4"
rm -rf "$installation" "$demo/server"
mkdir -p "$installation" "$demo/server/majv4"
cp "$fixtures/velmor/4.2.0.0/Velmor.exe" "$installation/Velmor.exe"
cp "$fixtures/velmor/4.2.0.1/Velmor.exe" "$demo/server/majv4/Velmor.exe"
demo_file() { # name size seed folder
    head -c "$2" /dev/zero | tr '\0' "$3" >"$4/$1"
}
for name in Velmor.prm VelmorA.prm VelmorE.prm MailLink.exe XVelmor.mdb socle.mdb; do
    demo_file "$name" 4000 a "$installation"
    demo_file "$name" 4200 b "$demo/server/majv4"
done
cp "build/$windows/MAJLumoradex.exe" "$installation/"

"$server" --root "$demo/server" --version 4.2.1 --lifetime 900 --quiet >"$demo/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do grep -q listening "$demo/server.log" && break; sleep 0.1; done

inspector() { "$WINELOADER" "$fixtures/inspector/inspector.exe" "$@" 2>/dev/null | tr -d '\r'; }
wait_for_message() { # text
    for _ in $(seq 300); do
        inspector | grep -q "text=$1" && return 0
        sleep 0.2
    done
    echo "the window never showed: $1" >&2
    return 1
}
screenshot() { # file
    local window
    window=$(xdotool search --name '^Mise à jour de Lumoradex$' | head -n 1)
    /usr/bin/import -window "$window" "$1"
    echo "screenshot: $1"
}

cd "$installation"
"$WINELOADER" MAJLumoradex.exe /demo >/dev/null 2>&1 &
updater=$!
cd "$root"

if [ "$headless" = 0 ]; then
    echo "The updater is open on $DISPLAY; close its window to end the demo."
    wait "$updater" || true
    exit 0
fi

wait_for_message "Des mises à jour sont disponibles"
sleep 1
screenshot "$output/offer.png"
# "Mettre à jour" lies at (221, 108) in the client area, 154 x 20 pixels.
client=$(inspector | grep '^window' | tr '\t' '\n')
client_left=$(echo "$client" | sed -n 's/^client_left=//p')
client_top=$(echo "$client" | sed -n 's/^client_top=//p')
xdotool mousemove $((client_left + 298)) $((client_top + 118)) click 1
wait_for_message "Téléchargements terminés"
sleep 1
screenshot "$output/result.png"
inspector | grep -E "text=(Téléchargements|[0-9]+\.[0-9]+\.[0-9]+)" | sed 's/.*text=/  /;s/\t.*//'
kill "$updater" 2>/dev/null || true
