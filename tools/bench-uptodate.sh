#!/usr/bin/env bash
# bench-uptodate.sh <build-dir>: how long the 200 MB bundle of bench-run.sh takes to answer
# "already up to date" (exit 15622) against one SHA-256 pass over the same file
# (tssha256.exe, the system's CNG hash), in the same prefix, after bench-run.sh installed
# the product there. Without a display the up-to-date box fails at once. Not a test.
# RUNS (3) runs each, alternating; the fastest counts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=$build/bench/run
prefix=$work/wine/run
if [ ! -f "$work/Setup.exe" ] || [ ! -f "$prefix/system.reg" ]; then
    RUNS=1 "$here/bench-run.sh" "$build" >/dev/null
fi
win() { echo "Z:${1//\//\\}"; }
WINEPREFIX=$prefix wineserver -p 60
"$here/wine-run.sh" "$prefix" "$build/bin/tsexit.exe" 0 >/dev/null || true
measure() { # command...: "wall_ms cpu_ms exit_code"
    "$here/wine-run.sh" "$prefix" "$build/bin/tsrun.exe" "$@" | tr -d '\r' |
        sed -n 's/^exit code: \([0-9]*\).*/\1/p; s/^wall_ms=\([0-9]*\).*cpu_ms=\([0-9]*\).*/\1 \2/p' | tac | tr '\n' ' '
}
echo "load: $(uptime | sed 's/.*load average: //')"
ours= theirs=
for round in $(seq "${RUNS:-3}"); do
    a=$(measure "$(win "$work/Setup.exe")" -mupLogFile "$(win "$work/uptodate.log")")
    b=$(measure "$(win "$build/bin/tssha256.exe")" "$(win "$work/Setup.exe")")
    echo "  round $round: Setup $a| SHA-256 $b" | sed 's/\([0-9]*\) \([0-9]*\) \([0-9]*\) /wall \1 ms cpu \2 ms exit \3 /g' >&2
    [ -n "$ours" ] && [ "${a%% *}" -ge "${ours%% *}" ] || ours=$a
    [ -n "$theirs" ] && [ "${b%% *}" -ge "${theirs%% *}" ] || theirs=$b
done
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
echo "load: $(uptime | sed 's/.*load average: //')"
read -r ow oc oe <<<"$ours"
read -r tw tc te <<<"$theirs"
[ "$oe" = 15622 ] || echo "up to date   Setup did not answer 15622 but $oe: see $work/uptodate.log"
echo "up to date   Setup: wall $ow ms, cpu $oc ms (exit $oe); one SHA-256 pass: wall $tw ms, cpu $tc ms ($(stat -c %s "$work/Setup.exe") bytes)"
awk -v o="$ow" -v t="$tw" 'BEGIN { g = 1.3 * t + 100;
    printf "up to date   ratio Setup / SHA-256: %.2f; goal <= 1.3 x pass + 100 ms = %d ms: %s\n", o / t, g, o <= g ? "met" : "missed" }'
