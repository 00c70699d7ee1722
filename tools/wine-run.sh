#!/usr/bin/env bash
# wine-run.sh <prefix-dir> <program> [args...]
# Runs a Windows program under Wine in the given prefix, quietly. Wine passes on only
# the low 8 bits of the exit code; programs that need the full code report it themselves.
set -u
prefix=$1; shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
