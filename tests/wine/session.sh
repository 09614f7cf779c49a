#!/usr/bin/env bash
# One private Wine session per build tree: its own prefix, one Xvfb display and a persistent
# wineserver, started before the tests and stopped after them.
#   session.sh start STATE_DIR [win32|win64]   create the prefix once, start Xvfb and Wine
#   session.sh stop STATE_DIR                  stop them
#   session.sh env STATE_DIR                   print the variables that run a program in the session
# A win32 session runs Wine's 32-bit side, a win64 session its 64-bit side in a 64-bit prefix. The
# loader is called directly ($WINELOADER), never through Debian's "wine", which starts the 32-bit
# loader whenever wine32 is installed, even where the kernel refuses to run it.
# Wine's first program starts background services that inherit its standard streams; started
# here with the streams sent to a log, they never hold a test runner's pipes open.
set -euo pipefail

action=${1:?usage: session.sh start|stop|env STATE_DIR [win32|win64]}
state=$(mkdir -p "${2:?missing STATE_DIR}" && cd "$2" && pwd)
prefix=$state/prefix
log=$state/session.log

if [ "$action" = start ]; then
    arch=${3:-win32}
    case $arch in win32 | win64) ;; *) echo "session.sh: no Wine side '$arch' (win32 or win64)" >&2; exit 2 ;; esac
    echo "$arch" >"$state/arch"
else
    arch=$(cat "$state/arch" 2>/dev/null || echo win32)
fi
case $arch in
win32)
    loader=/usr/lib/wine/wine
    missing_hint="install wine32:i386 (scripts/install-deps.sh as root) where the kernel runs 32-bit programs"
    other_build_hint="; where the kernel runs no 32-bit programs, use the win64 build (see scripts/windows-build.sh)"
    ;;
win64)
    loader=/usr/lib/wine/wine64
    missing_hint="install wine64 (scripts/install-deps.sh as root)"
    other_build_hint=
    ;;
esac

export WINEPREFIX=$prefix WINEARCH=$arch WINELOADER=$loader WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# One line that says what cannot run and what to do, rather than a bare exit status 126.
check_loader() {
    local refusal status=0
    if [ ! -x "$loader" ]; then
        echo "Wine cannot run: its $arch loader $loader is missing: $missing_hint$other_build_hint" >&2
        exit 1
    fi
    refusal=$("$loader" --version 2>&1) || status=$?
    if [ "$status" != 0 ]; then
        refusal=${refusal##*: }
        echo "Wine cannot run: its $arch loader $loader fails (${refusal:-exit status $status})$other_build_hint" >&2
        exit 1
    fi
}

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

# The marker names the side the prefix was made for: a prefix of the other side is made anew.
create_prefix() {
    [ "$(cat "$prefix/.lumoradex-ready" 2>/dev/null)" = "$arch" ] && return
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    "$loader" wineboot -i >>"$log" 2>&1 </dev/null
    cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
    "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d "Liberation Sans" /f >>"$log" 2>&1
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$log" 2>&1
    # Drive D: stands for "another drive" in the working-folder scenarios.
    mkdir -p "$state/drive_d"
    ln -sfn "$state/drive_d" "$prefix/dosdevices/d:"
    wineserver -w
    echo "$arch" >"$prefix/.lumoradex-ready"
}

display_number() { echo ":$(cat "$state/display")"; }

case $action in
start)
    check_loader
    start_display
    export DISPLAY=$(display_number)
    create_prefix
    # A session left running by an interrupted run keeps its server: -p then fails, harmlessly.
    setsid wineserver -p </dev/null >>"$log" 2>&1 || true
    setsid "$loader" cmd /c exit </dev/null >>"$log" 2>&1
    echo "Wine session ready ($arch): WINEPREFIX=$prefix DISPLAY=$DISPLAY"
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
    echo "export WINEPREFIX='$prefix' WINEARCH=$arch WINELOADER='$loader' WINEDEBUG=-all DISPLAY='$(display_number)'"
    ;;
*)
    echo "usage: session.sh start|stop|env STATE_DIR [win32|win64]" >&2
    exit 2
    ;;
esac
