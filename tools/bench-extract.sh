#!/usr/bin/env bash
# bench-extract.sh <build-dir>: extraction speed and memory, not a test.
#
# Makes a payload of about 200 MB (bench-payload.sh: already-compressed data, Windows
# executables, text), archives it as tsbundle does (LZMA2, solid blocks of at most 64 MB),
# and unpacks it in the 32-bit Wine prefix with Setup's extractArchive (tsextract.exe) and
# with 7-Zip's own 7za.exe (npm package 7zip-bin, installed once into the build folder).
# Prints wall and CPU times (bench-common.sh), their ratio and peak private memory
# (GetProcessMemoryInfo, through tsrun.exe). RUNS (3) rounds; the best of each counts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
bench=$build/bench
prefix=$build/wine/win32
mkdir -p "$bench"

if [ ! -f "$bench/npm/node_modules/7zip-bin/win/ia32/7za.exe" ]; then
    command -v npm >/dev/null || { echo "bench-extract: npm is needed for 7-Zip's 7za.exe (npm package 7zip-bin)" >&2; exit 1; }
    npm install --prefix "$bench/npm" --no-save --no-audit --no-fund 7zip-bin@5.2.0 >/dev/null
fi
sevenza=$bench/npm/node_modules/7zip-bin/win/ia32/7za.exe

payload=$bench/payload
if [ ! -f "$bench/payload.7z" ]; then
    [ -f "$payload/text/log5.txt" ] || "$here/bench-payload.sh" "$payload"
    (cd "$payload" && 7zz a -t7z -m0=lzma2 -mx=7 -ms=64m -bd -bso0 -bsp0 "$bench/payload.7z.part" . &&
        mv "$bench/payload.7z.part" "$bench/payload.7z")
fi

unpacked=$(du -sb "$payload" | cut -f1)
packed=$(stat -c %s "$bench/payload.7z")
read -r blocks largest_block < <(7zz l -slt "$bench/payload.7z" |
    awk '/^Size = /{s=$3} /^Block = /{b[$3]+=s} END{m=0; n=0; for (k in b) { n++; if (b[k]>m) m=b[k] } print n, m}')
threads=$(( $(nproc) < blocks ? $(nproc) : blocks ))
echo "payload: $unpacked bytes unpacked, $packed bytes packed, $blocks solid blocks, largest $largest_block bytes; $threads threads"

. "$here/bench-common.sh"
export TS_BENCH_BUILD=$build
WINEPREFIX=$prefix wineserver -p 30 2>/dev/null || true
ours=("$build/bin/tsextract.exe" "Z:$bench/payload.7z" "Z:$bench/out")
theirs=("$sevenza" x -y "-oZ:$bench/out" "Z:$bench/payload.7z")
# Each figure: the fastest wall time and the least CPU time of the rounds.
declare -A wall cpu
keep() { # name "wall cpu rss exit"
    local w c
    read -r w c _ _ <<<"$2"
    [ -n "${wall[$1]:-}" ] && [ "${wall[$1]}" -le "$w" ] || wall[$1]=$w
    [ -n "${cpu[$1]:-}" ] && [ "${cpu[$1]}" -le "$c" ] || cpu[$1]=$c
}
load
for round in $(seq "${RUNS:-3}"); do
    rm -rf "$bench/out"; a=$(timed "$prefix" "${ours[@]}")
    rm -rf "$bench/out"; b=$(timed "$prefix" "${theirs[@]}")
    rm -rf "$bench/out"; c=$(timed "$prefix" "${ours[@]}" 1)
    echo "  round $round (wall_ms cpu_ms max_rss_kb exit): extractArchive $a, 7za $b, extractArchive on 1 thread $c"
    keep ours "$a"; keep theirs "$b"; keep single "$c"
done
# Peak private memory and the exit codes, once, through tsrun.
rm -rf "$bench/out"; read -r oe om <<<"$(tsrun_line "$prefix" "$(win "${ours[0]}")" "${ours[@]:1}")"
rm -rf "$bench/out"; read -r te tm <<<"$(tsrun_line "$prefix" "$(win "${theirs[0]}")" "${theirs[@]:1}")"
rm -rf "$bench/out"; read -r se sm <<<"$(tsrun_line "$prefix" "$(win "${ours[0]}")" "${ours[@]:1}" 1)"
rm -rf "$bench/out"
load
[ "$oe" = 0 ] || echo "extraction   extractArchive failed with $oe"
[ "$te" = 0 ] || echo "extraction   7za failed with $te"
echo "extraction   extractArchive: wall ${wall[ours]} ms, cpu ${cpu[ours]} ms, peak private $((om / 1048576)) MB ($threads threads)"
echo "extraction   7za.exe:        wall ${wall[theirs]} ms, cpu ${cpu[theirs]} ms, peak private $((tm / 1048576)) MB"
echo "extraction   extractArchive on 1 thread: wall ${wall[single]} ms, cpu ${cpu[single]} ms, peak private $((sm / 1048576)) MB"
awk -v a="${wall[ours]}" -v b="${wall[theirs]}" -v s="${wall[single]}" -v ac="${cpu[ours]}" -v bc="${cpu[theirs]}" \
    -v m="$om" -v blk="$largest_block" -v t="$threads" 'BEGIN {
    printf "extraction   ratio ours / 7za: wall %.2f (goal <= 0.60: %s), cpu %.2f; 1 thread: wall %.2f\n",
        a / b, a <= 0.6 * b ? "met" : "missed", ac / bc, s / b;
    limit = t * blk + 33554432;
    printf "extraction   peak memory %.1f MB; goal <= %d threads x largest block + 32 MB = %.1f MB: %s\n",
        m / 1048576, t, limit / 1048576, m <= limit ? "met" : "missed" }'
