#!/usr/bin/env bash
# run-tests.sh <build-dir> [jobs]: runs CTest with one persistent wineserver per
# prefix (a Wine process then starts in milliseconds) and an X server for GUI tests.
set -u
build=$1 jobs=${2:-2}
for p in "$build"/wine/win32 "$build"/wine/win64; do
    WINEPREFIX=$p wineserver -p
    # Start the prefix's system processes here, away from CTest's output pipes: started by
    # a test they would hold its pipe open as long as the persistent server lives.
    WINEPREFIX=$p WINEDEBUG=-all wine wineboot >/dev/null 2>&1 </dev/null
done
xvfb_pid=
if [ -z "${TS_XDISPLAY:-}" ] && command -v Xvfb >/dev/null; then
    for n in $(seq 90 99); do
        [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export TS_XDISPLAY=:$n
        break
    done
fi
cleanup() {
    for p in "$build"/wine/win32 "$build"/wine/win64; do WINEPREFIX=$p wineserver -k 2>/dev/null; done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
(cd "$build" && ctest --output-on-failure -j "$jobs")
