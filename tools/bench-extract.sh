#!/usr/bin/env bash
# bench-extract.sh <build-dir>: extraction speed and memory, not a test.
#
# Makes a payload of about 200 MB (bench-payload.sh: already-compressed data, Windows
# executables, text), archives it as tsbundle does (LZMA2, solid blocks of at most 64 MB),
# and unpacks it in the 32-bit Wine prefix with Setup's extractArchive (tsextract.exe) and
# with 7-Zip's own 7za.exe (npm package 7zip-bin, installed once into the build folder).
# Prints wall and CPU times, their ratio and peak private memory (GetProcessMemoryInfo and
# GetProcessTimes, through tsrun.exe). RUNS (3) runs each, alternating; the fastest counts.
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

export WINEPREFIX=$prefix WINEDEBUG=-all
wineserver -p 30 2>/dev/null || true
run() { # command...: "wall_ms peak_pagefile cpu_ms exit_code"
    rm -rf "$bench/out"
    "$here/wine-run.sh" "$prefix" "$build/bin/tsrun.exe" "$@" | tr -d '\r' |
        sed -n 's/^exit code: \([0-9]*\).*/\1/p; s/^wall_ms=\([0-9]*\).*peak_pagefile=\([0-9]*\).*cpu_ms=\([0-9]*\).*/\1 \2 \3/p' |
        tac | tr '\n' ' '
}
echo "load: $(uptime | sed 's/.*load average: //')"
ours= theirs= single=
for round in $(seq "${RUNS:-3}"); do
    a=$(run "Z:$build/bin/tsextract.exe" "Z:$bench/payload.7z" "Z:$bench/out")
    b=$(run "Z:$sevenza" x -y "-oZ:$bench/out" "Z:$bench/payload.7z")
    c=$(run "Z:$build/bin/tsextract.exe" "Z:$bench/payload.7z" "Z:$bench/out" 1)
    echo "  round $round: extractArchive ${a% }, 7za ${b% }, extractArchive on 1 thread ${c% } (wall_ms peak cpu_ms exit)" >&2
    [ -n "$ours" ] && [ "${a%% *}" -ge "${ours%% *}" ] || ours=$a
    [ -n "$theirs" ] && [ "${b%% *}" -ge "${theirs%% *}" ] || theirs=$b
    [ -n "$single" ] && [ "${c%% *}" -ge "${single%% *}" ] || single=$c
done
rm -rf "$bench/out"
echo "load: $(uptime | sed 's/.*load average: //')"
read -r ow om oc oe <<<"$ours"
read -r tw tm tc te <<<"$theirs"
read -r sw sm sc se <<<"$single"
[ "$oe" = 0 ] || echo "extraction   extractArchive failed with $oe"
[ "$te" = 0 ] || echo "extraction   7za failed with $te"
echo "extraction   extractArchive: wall $ow ms, cpu $oc ms, peak private $((om / 1048576)) MB"
echo "extraction   7za.exe:        wall $tw ms, cpu $tc ms, peak private $((tm / 1048576)) MB"
echo "extraction   (extractArchive on 1 thread: wall $sw ms, cpu $sc ms, peak private $((sm / 1048576)) MB, ratio to 7za $(awk -v a="$sw" -v b="$tw" 'BEGIN { printf "%.2f", a / b }'))"
awk -v a="$ow" -v b="$tw" -v ac="$oc" -v bc="$tc" -v m="$om" -v blk="$largest_block" -v t="$threads" 'BEGIN {
    printf "extraction   ratio ours / 7za: wall %.2f (goal <= 0.60: %s), cpu %.2f\n", a / b, a <= 0.6 * b ? "met" : "missed", ac / bc;
    limit = t * blk + 33554432;
    printf "extraction   peak memory %.1f MB; goal <= %d threads x largest block + 32 MB = %.1f MB: %s\n",
        m / 1048576, t, limit / 1048576, m <= limit ? "met" : "missed" }'
