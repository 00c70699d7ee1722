# Sourced by the benchmark scripts (needs $here, the tools folder).

# The load averages, printed beside the figures: the machine may be shared.
load() { echo "load: $(uptime | sed 's/.*load average: //')"; }

# Z: path of a Linux path, for Windows programs under Wine.
win() { echo "Z:${1//\//\\}"; }

# timed <prefix> <program> [args...]: runs a Windows program directly under Wine and prints
# "wall_ms cpu_ms max_rss_kb exit_code" (the low 8 bits of the exit code, all Linux passes
# on). CPU time is the program's own process, user + system, without the processes it
# starts: under load it stays put while the wall time stretches.
timed() {
    local prefix=$1 t
    shift
    t=$(mktemp)
    /usr/bin/time -o "$t" -f "%e %U %S %M %x" "$here/wine-run.sh" "$prefix" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$t" | awk '{ printf "%d %d %d %d\n", $1 * 1000, ($2 + $3) * 1000, $4, $5 }'
    rm -f "$t"
}

# tsrun_line <prefix> <program> [args...]: "exit_code peak_pagefile" through tsrun.exe (the
# full exit code and the peak private memory, which Linux cannot see).
tsrun_line() {
    local prefix=$1 build
    shift
    build=$(cd "$here/.." && pwd)/build
    "$here/wine-run.sh" "$prefix" "${TS_BENCH_BUILD:-$build}/bin/tsrun.exe" "$@" | tr -d '\r' |
        sed -n 's/^exit code: \([0-9]*\).*/\1/p; s/^wall_ms=.*peak_pagefile=\([0-9]*\).*/\1/p' | tr '\n' ' ' | sed 's/ $//'
}

# better <a> <b>: the one of two "wall_ms ..." figures with the smaller first field.
better() { if [ -z "$2" ] || [ "${1%% *}" -lt "${2%% *}" ]; then echo "$1"; else echo "$2"; fi; }
