#!/usr/bin/env bash
# One private Wine session per build tree: its own prefix, one Xvfb display and a persistent
# wineserver, started before the tests and stopped after them.
#   session.sh start STATE_DIR   create the prefix once, start Xvfb and Wine
#   session.sh stop STATE_DIR    stop them
#   session.sh env STATE_DIR     print the variables that run a program in the session
# Wine's first program starts background services that inherit its standard streams; started
# here with the streams sent to a log, they never hold a test runner's pipes open.
set -euo pipefail

action=${1:?usage: session.sh start|stop|env STATE_DIR}
state=$(mkdir -p "${2:?missing STATE_DIR}" && cd "$2" && pwd)
prefix=$state/prefix
log=$state/session.log

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

display_alive() {
    [ -f "$state/display" ] && [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null
}

start_display() {
    display_alive && return
    rm -f "$state/display"
    exec 3>"$state/display"
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -nolisten unix -listen local \
        </dev/null >>"$log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    exec 3>&-
    for _ in $(seq 100); do
        [ -s "$state/display" ] && break
        sleep 0.1
    done
    [ -s "$state/display" ] || { echo "Xvfb did not start (see $log)" >&2; exit 1; }
}

create_prefix() {
    [ -f "$prefix/.lumoradex-ready" ] && return
    rm -rf "$prefix"
    wineboot -i >>"$log" 2>&1 </dev/null
    cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d "Liberation Sans" /f >>"$log" 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$log" 2>&1
    # Drive D: stands for "another drive" in the working-folder scenarios.
    mkdir -p "$state/drive_d"
    ln -sfn "$state/drive_d" "$prefix/dosdevices/d:"
    wineserver -w
    touch "$prefix/.lumoradex-ready"
}

display_number() { echo ":$(cat "$state/display")"; }

case $action in
start)
    start_display
    export DISPLAY=$(display_number)
    create_prefix
    # A session left running by an interrupted run keeps its server: -p then fails, harmlessly.
    setsid wineserver -p </dev/null >>"$log" 2>&1 || true
    setsid wine cmd /c exit </dev/null >>"$log" 2>&1
    echo "Wine session ready: WINEPREFIX=$prefix DISPLAY=$DISPLAY"
    ;;
stop)
    wineserver -k 2>/dev/null || true
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
        rm -f "$state/xvfb.pid" "$state/display"
    fi
    ;;
env)
    display_alive || { echo "no Wine session in $state: run 'session.sh start $state'" >&2; exit 1; }
    echo "export WINEPREFIX='$prefix' WINEARCH=win32 WINEDEBUG=-all DISPLAY='$(display_number)'"
    ;;
*)
    echo "usage: session.sh start|stop|env STATE_DIR" >&2
    exit 2
    ;;
esac
