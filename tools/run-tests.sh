#!/usr/bin/env bash
# run-tests.sh <build-dir> [jobs]: runs CTest with one persistent wineserver per
# prefix (a Wine process then starts in milliseconds) and an X server for GUI tests.
set -u
build=$1 jobs=${2:-2}
for p in "$build"/wine/win32 "$build"/wine/win64; do
    # A session left by an earlier run may have no display: end it, so that the
    # tests' session starts its desktop on the X server below.
    WINEPREFIX=$p wineserver -k >/dev/null 2>&1
    WINEPREFIX=$p wineserver -w >/dev/null 2>&1
    WINEPREFIX=$p wineserver -p >/dev/null 2>&1 </dev/null
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
