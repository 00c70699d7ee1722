#!/usr/bin/env bash
# wine-run.sh <prefix-dir> <program> [args...]
# Runs a Windows program under Wine in the given prefix, quietly. Wine passes on only
# the low 8 bits of the exit code; programs that need the full code report it themselves.
set -u
prefix=$1; shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Tests expect what the i386 emulator delivers where 32-bit code runs under one.
if [ -z "${TS_EMULATED:-}" ]; then
    . "$(dirname "$0")/i386-emulation.sh"
    TS_EMULATED=$(ts_i386_emulated)
fi
export TS_EMULATED
# Message boxes need an X display: the test runner's Xvfb when there is one. Without
# a display they fail at once, so nothing can wait for a click.
unset WAYLAND_DISPLAY
if [ -n "${TS_XDISPLAY:-}" ]; then export DISPLAY=$TS_XDISPLAY; else unset DISPLAY; fi
# Wine starts its service processes (winedevice, explorer) from the first program of a
# session, and they inherit its output. Through a file, a caller reading a pipe (CTest)
# still sees the end of the output when the program ends.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
exit $rc
