#!/usr/bin/env bash
# run-tests.sh <build-dir> [jobs] [ctest arguments...]: runs CTest with one persistent
# wineserver per prefix (a Wine process then starts in milliseconds) and an X server for
# GUI tests. Without CTest arguments it runs every test but the full Windows matrix
# (tools/matrix.sh runs that).
set -u
build=$1 jobs=${2:-2}
shift $(( $# < 2 ? $# : 2 ))
[ $# -gt 0 ] || set -- -LE '^matrix$'
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/i386-emulation.sh"
# The tests learn whether 32-bit code runs under qemu-user: some faults arrive differently.
export TS_EMULATED=${TS_EMULATED:-$(ts_i386_emulated)}
[ "$TS_EMULATED" = 1 ] && echo "run-tests: 32-bit code runs under emulation ($(ts_i386_emulator))"
for p in "$build"/wine/win32 "$build"/wine/win64; do
    # A session left by an earlier run may have no display: end it, so that the
    # tests' session starts its desktop on the X server below.
    WINEPREFIX=$p wineserver -k >/dev/null 2>&1
    WINEPREFIX=$p wineserver -w >/dev/null 2>&1
    WINEPREFIX=$p wineserver -p >/dev/null 2>&1 </dev/null
done
xvfb_pid= xvfb_dir=
cleanup() {
    for p in "$build"/wine/win32 "$build"/wine/win64; do WINEPREFIX=$p wineserver -k 2>/dev/null; done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$xvfb_dir" ] && rm -rf "$xvfb_dir"
}
trap cleanup EXIT
if [ -z "${TS_XDISPLAY:-}" ]; then
    command -v Xvfb >/dev/null || { echo "run-tests: Xvfb is missing (tools/bootstrap.sh installs it)" >&2; exit 1; }
    # Xvfb picks a free display and writes its number once it accepts connections.
    xvfb_dir=$(mktemp -d)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$xvfb_dir/display" >"$xvfb_dir/log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 300); do
        [ -s "$xvfb_dir/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    n=$(head -n 1 "$xvfb_dir/display" 2>/dev/null)
    if [ -z "$n" ] || ! DISPLAY=:$n xdpyinfo >/dev/null 2>&1; then
        tail -n 20 "$xvfb_dir/log" >&2
        if kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "run-tests: the Xvfb display did not answer within 30 s" >&2
        else
            echo "run-tests: Xvfb ended before its display answered" >&2
        fi
        exit 1
    fi
    export TS_XDISPLAY=:$n
fi
# Each test's time limit: about five times a native run's longest, three times that under
# the emulator.
timeout=600
[ "$TS_EMULATED" = 1 ] && timeout=1800
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout "$timeout" "$@")
