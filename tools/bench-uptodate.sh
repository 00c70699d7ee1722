#!/usr/bin/env bash
# bench-uptodate.sh <build-dir>: how long the 200 MB bundle of bench-run.sh takes to answer
# "already up to date" (exit 15622) against one SHA-256 pass over the same file
# (tssha256.exe, the system's CNG hash), in the same prefix, after bench-run.sh installed
# the product there. Without a display the up-to-date box fails at once. Not a test.
# RUNS (3) rounds; the fastest wall time and the least CPU time count.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=$build/bench/run
prefix=$work/wine/run
if [ ! -f "$work/Setup.exe" ] || [ ! -f "$prefix/system.reg" ]; then
    RUNS=1 "$here/bench-run.sh" "$build" >/dev/null
fi
. "$here/bench-common.sh"
export TS_BENCH_BUILD=$build
WINEPREFIX=$prefix wineserver -p 60
"$here/wine-run.sh" "$prefix" "$build/bin/tsexit.exe" 0 >/dev/null || true
ours=("$work/Setup.exe" -mupLogFile "$(win "$work/uptodate.log")")
theirs=("$build/bin/tssha256.exe" "$(win "$work/Setup.exe")")
# The full exit code once through tsrun (Linux sees 15622 as 6).
read -r code peak <<<"$(tsrun_line "$prefix" "$(win "${ours[0]}")" "${ours[@]:1}")"
load
ow= oc= tw= tc=
for round in $(seq "${RUNS:-3}"); do
    a=$(timed "$prefix" "${ours[@]}")
    b=$(timed "$prefix" "${theirs[@]}")
    echo "  round $round (wall_ms cpu_ms max_rss_kb exit): Setup $a, SHA-256 $b"
    read -r w c _ _ <<<"$a"
    [ -n "$ow" ] && [ "$ow" -le "$w" ] || ow=$w
    [ -n "$oc" ] && [ "$oc" -le "$c" ] || oc=$c
    read -r w c _ _ <<<"$b"
    [ -n "$tw" ] && [ "$tw" -le "$w" ] || tw=$w
    [ -n "$tc" ] && [ "$tc" -le "$c" ] || tc=$c
done
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
load
[ "$code" = 15622 ] || echo "up to date   Setup did not answer 15622 but $code: see $work/uptodate.log"
echo "up to date   Setup: wall $ow ms, cpu $oc ms, peak private $((peak / 1048576)) MB (exit $code)"
echo "up to date   one SHA-256 pass over the $(stat -c %s "$work/Setup.exe") bytes: wall $tw ms, cpu $tc ms"
awk -v o="$ow" -v t="$tw" -v oc="$oc" -v tc="$tc" 'BEGIN {
    printf "up to date   ratio Setup / SHA-256: wall %.2f, cpu %.2f; goal <= 1.10 x pass: wall %d <= %d %s, cpu %d <= %d %s\n",
        o / t, oc / tc, o, 1.1 * t, o <= 1.1 * t ? "met" : "missed", oc, 1.1 * tc, oc <= 1.1 * tc ? "met" : "missed" }'
