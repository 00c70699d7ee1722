#!/usr/bin/env bash
# bench-extract.sh <build-dir>: extraction speed and memory, not a test.
#
# Makes a payload of about 200 MB (already-compressed data, Windows executables, text),
# archives it as tsbundle does (LZMA2, solid blocks of at most 64 MB), and unpacks
# it in the 32-bit Wine prefix with Setup's extractArchive (tsextract.exe) and with
# 7-Zip's own 7za.exe (npm package 7zip-bin). Prints wall times, their ratio and both
# peak memory figures (GetProcessMemoryInfo, through tsrun.exe). Each is run three times;
# the faster run counts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
bench=$build/bench
prefix=$build/wine/win32
mkdir -p "$bench"

if [ ! -f "$bench/npm/node_modules/7zip-bin/win/ia32/7za.exe" ]; then
    npm install --prefix "$bench/npm" --no-save --no-audit --no-fund 7zip-bin@5.2.0 >/dev/null
fi
sevenza=$bench/npm/node_modules/7zip-bin/win/ia32/7za.exe

payload=$bench/payload
if [ ! -f "$bench/payload.7z" ]; then
    "$here/bench-payload.sh" "$payload"
    (cd "$payload" && 7zz a -t7z -m0=lzma2 -mx=7 -ms=64m -bd -bso0 -bsp0 "$bench/payload.7z" .)
fi

unpacked=$(du -sb "$payload" | cut -f1)
packed=$(stat -c %s "$bench/payload.7z")
largest_block=$(7zz l -slt "$bench/payload.7z" | awk '/^Size = /{s=$3} /^Block = /{b[$3]+=s} END{m=0; for (k in b) if (b[k]>m) m=b[k]; print m}')
echo "payload: $unpacked bytes unpacked, $packed bytes packed, largest solid block $largest_block bytes"

export WINEPREFIX=$prefix WINEDEBUG=-all
wineserver -p 30 2>/dev/null || true
measure() { # label command...
    local best=
    for round in 1 2 3; do
        rm -rf "$bench/out"
        local line
        line=$("$here/wine-run.sh" "$prefix" "$build/bin/tsrun.exe" "$@" | tr -d '\r' | grep -E '^(exit code|wall_ms)' | tr '\n' ' ' |
               sed 's/^exit code: \([0-9]*\) [^ ]* \(.*\)/\2 exit_code=\1/')
        local ms=${line#wall_ms=}; ms=${ms%% *}
        if [ -z "$best" ] || [ "$ms" -lt "${best%% *}" ]; then best="$ms $line"; fi
    done
    echo "${best#* }"
}
ours=$(measure "Z:$build/bin/tsextract.exe" "Z:$bench/payload.7z" "Z:$bench/out")
theirs=$(measure "Z:$sevenza" x -y "-oZ:$bench/out" "Z:$bench/payload.7z")
rm -rf "$bench/out"
field() { sed -n "s/.*$1=\([0-9]*\).*/\1/p" <<<"$2"; }
echo "extractArchive: $ours"
echo "7za.exe:        $theirs"
awk -v a="$(field wall_ms "$ours")" -v b="$(field wall_ms "$theirs")" \
    -v m="$(field peak_pagefile "$ours")" -v blk="$largest_block" \
    'BEGIN { printf "time ratio (ours / 7za): %.2f (goal <= 1.10)\n", a / b;
             printf "our peak private memory: %.1f MB; largest block + 32 MB: %.1f MB\n", m / 1048576, (blk + 33554432) / 1048576 }'
