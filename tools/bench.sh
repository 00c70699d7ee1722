#!/usr/bin/env bash
# bench.sh <build-dir>: the benchmarks of `make bench`, not tests. Each prints our figure,
# the peer's and their ratio from one run of this script:
#   extraction  extractArchive against 7-Zip's 7za.exe (bench-extract.sh)
#   whole run   the 200 MB demo bundle against an NSIS bundle (bench-run.sh)
#   up to date  the answer 15622 against one SHA-256 pass over the bundle (bench-uptodate.sh)
#   logger      lines per second and a disabled line's cost against the recorded figures
# The machine may be shared: the load is printed with the figures, each figure is the
# best of several runs, and CPU time is printed where wall time is unreliable.
# BENCH_ONLY=<extraction|run|uptodate|logger> runs one of them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
section() { # name title command...
    [ -z "${BENCH_ONLY:-}" ] || [ "$BENCH_ONLY" = "$1" ] || return 0
    echo "=== $2"
    shift 2
    "$@" 2>&1 | tee -a "$out"
}

section extraction "extraction (200 MB payload, 32-bit prefix)" "$here/bench-extract.sh" "$build"
section run "whole silent run (200 MB payload, fresh 32-bit prefix per run)" "$here/bench-run.sh" "$build"
section uptodate "up-to-date answer (same bundle, installed prefix)" "$here/bench-uptodate.sh" "$build"

logger() {
    local rate=0 cpu_rate=0 ns= cpu_ns= line r
    echo "load: $(uptime | sed 's/.*load average: //')"
    for _ in $(seq "${RUNS:-3}"); do
        line=$("$here/bench-logger.sh" "$build" 20000 | tr -d '\r')
        echo "  $(tr '\n' ';' <<<"$line")" >&2
        r=$(sed -n 's/.*= \([0-9]*\) lines\/s (cpu [0-9.]* s = \([0-9]*\) lines\/s).*/\1 \2/p' <<<"$line")
        [ "${r% *}" -gt "$rate" ] && rate=${r% *}
        [ "${r#* }" -gt "$cpu_rate" ] && cpu_rate=${r#* }
        r=$(sed -n 's/^disabled line: \([0-9.]*\) ns .*cpu \([0-9.]*\) ns each.*/\1 \2/p' <<<"$line")
        ns=$(awk -v a="${r% *}" -v b="$ns" 'BEGIN { print (b == "" || a < b) ? a : b }')
        cpu_ns=$(awk -v a="${r#* }" -v b="$cpu_ns" 'BEGIN { print (b == "" || a < b) ? a : b }')
    done
    echo "load: $(uptime | sed 's/.*load average: //')"
    # The figures recorded when the logger was made: 53,000 to 61,000 lines/s, 0.8 to 1.5 ns.
    awk -v r="$rate" -v cr="$cpu_rate" -v n="$ns" -v cn="$cpu_ns" 'BEGIN {
        printf "logger       enciphered lines: %d lines/s wall, %d per cpu second; recorded 53000-61000: ratio %.2f (wall), %.2f (cpu) to the low end: %s\n",
            r, cr, r / 53000, cr / 53000, (r >= 53000 || cr >= 53000) ? "kept" : "slower";
        printf "logger       disabled line: %.2f ns wall, %.2f ns cpu; recorded 0.8-1.5 ns: ratio %.2f (wall), %.2f (cpu) to the high end: %s\n",
            n, cn, n / 1.5, cn / 1.5, (n <= 1.5 || cn <= 1.5) ? "kept" : "slower" }'
}
section logger "logger (32-bit prefix)" logger

echo "=== summary"
grep -E '^(extraction|whole run|up to date|logger) ' "$out"
