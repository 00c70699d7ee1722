#!/usr/bin/env bash
# bench-extract.sh <build-dir>: extraction speed and memory, not a test.
#
# Makes a payload of about 200 MB (bench-payload.sh: already-compressed data, Windows
# executables, text), archives it as tsbundle does (LZMA2 with a 32 MB dictionary, solid
# blocks of at most 64 MB), and unpacks it in the 32-bit Wine prefix with Setup's
# extractArchive (tsextract.exe) and with 7-Zip's own 7za.exe (npm package 7zip-bin,
# installed once into the build folder). Prints wall and CPU times (bench-common.sh),
# their ratio and peak private memory (GetProcessMemoryInfo, through tsrun.exe). RUNS (3)
# rounds; the best of each counts.
#
# The scale line: the e2e recorder product with one more file of 1.5 GB, unpacked by
# tsextract (checked by its SHA-256) and installed by Setup in both prefixes; its peak
# memory against the 200 MB payload's.
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
pack=(7zz a -t7z -m0=lzma2:d=32m -mx=7 -ms=64m -mf=off -bd -bso0 -bsp0)
dictionary=33554432
if [ ! -f "$bench/payload-32m.7z" ]; then
    [ -f "$payload/text/log5.txt" ] || "$here/bench-payload.sh" "$payload"
    (cd "$payload" && "${pack[@]}" "$bench/payload-32m.7z.part" . && mv "$bench/payload-32m.7z.part" "$bench/payload-32m.7z")
fi

unpacked=$(du -sb "$payload" | cut -f1)
packed=$(stat -c %s "$bench/payload-32m.7z")
read -r blocks largest_block < <(7zz l -slt "$bench/payload-32m.7z" |
    awk '/^Size = /{s=$3} /^Block = /{b[$3]+=s} END{m=0; n=0; for (k in b) { n++; if (b[k]>m) m=b[k] } print n, m}')
threads=$(( $(nproc) < blocks ? $(nproc) : blocks ))
echo "payload: $unpacked bytes unpacked, $packed bytes packed, $blocks solid blocks, largest $largest_block bytes; $threads threads"

. "$here/bench-common.sh"
export TS_BENCH_BUILD=$build
WINEPREFIX=$prefix wineserver -p 30 2>/dev/null || true
ours=("$build/bin/tsextract.exe" "Z:$bench/payload-32m.7z" "Z:$bench/out")
theirs=("$sevenza" x -y "-oZ:$bench/out" "Z:$bench/payload-32m.7z")
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
    -v m="$om" -v blk="$largest_block" -v t="$threads" -v d="$dictionary" 'BEGIN {
    printf "extraction   ratio ours / 7za: wall %.2f (goal <= 0.50: %s), cpu %.2f; 1 thread: wall %.2f\n",
        a / b, a <= 0.5 * b ? "met" : "missed", ac / bc, s / b;
    window = blk < d ? blk : d;
    limit = t * (window + 1310720) + 33554432;
    printf "extraction   peak memory %.1f MB; goal <= %d threads x (window %.1f MB + input 1.25 MB) + 32 MB = %.1f MB: %s\n",
        m / 1048576, t, window / 1048576, limit / 1048576, m <= limit ? "met" : "missed" }'

# Scale: one file of 1.5 GB (a 1 MB random block, repeated) beside the e2e recorder
# product's payload; made once, then only its archive and checksum are kept.
scale=$bench/scale
if [ ! -f "$scale/product/payload.7z" ]; then
    rm -rf "$scale" && mkdir -p "$scale"
    cp -a "$build/testdata/e2e/recorder" "$scale/product"
    mkdir -p "$scale/product/payload/media"
    python3 - "$scale/product/payload/media/large.bin" <<'PY'
import random, sys
random.seed(15)
block = random.randbytes(1 << 20)
with open(sys.argv[1], "wb") as out:
    for _ in range(1536):
        out.write(block)
PY
    sha256sum <"$scale/product/payload/media/large.bin" | cut -d' ' -f1 >"$scale/large.sha256"
    (cd "$scale/product/payload" && "${pack[@]}" "$scale/product/payload.7z.part" . &&
        mv "$scale/product/payload.7z.part" "$scale/product/payload.7z")
    rm -rf "$scale/product/payload"
fi
rm -rf "$scale/out"
read -r se sm <<<"$(tsrun_line "$prefix" "$(win "$build/bin/tsextract.exe")" "Z:$scale/product/payload.7z" "Z:$scale/out")"
sum=$(sha256sum <"$scale/out/media/large.bin" 2>/dev/null | cut -d' ' -f1 || true)
rm -rf "$scale/out"
[ "$sum" = "$(cat "$scale/large.sha256")" ] && whole="the file is whole" || whole="THE FILE DIFFERS"
echo "extraction   scale: one 1536 MB file: extractArchive exit $se, peak private $((sm / 1048576)) MB, $whole; the 200 MB payload: $((om / 1048576)) MB"
# Setup installs it in both prefixes (the test root trusted there, as the tests do).
"$build/host/tsbundle" "$scale/product" -o "$scale/Setup.exe" --sign "$build/certs/test.chain.pem" "$build/certs/test.key"
for p in win32 win64; do
    "$here/wine-run.sh" "$build/wine/$p" "$build/bin/tstrustroot.exe" "Z:$build/certs/root.der" >/dev/null 2>&1 || true
    read -r ie im <<<"$(tsrun_line "$build/wine/$p" "$(win "$scale/Setup.exe")" -silent -disableInstallCompleteNotification)"
    echo "extraction   scale: Setup with the 1536 MB file in the $p prefix: exit $ie, peak private $((im / 1048576)) MB"
done
load
