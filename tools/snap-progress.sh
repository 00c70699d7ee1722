#!/usr/bin/env bash
# snap-progress.sh <build-dir>: saves the progress window as it looks for an English and a
# German user, as <build-dir>/screenshots/progress-en.png and progress-de.png. It starts
# its own X server and Wine session in the 32-bit test prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
prefix=$build/wine/win32
out=$build/screenshots
mkdir -p "$out"
display=
for n in $(seq 80 89); do
    [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    display=:$n
    break
done
[ -n "$display" ] || { echo "snap-progress: no free X display" >&2; exit 1; }
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null' EXIT
sleep 1
for pair in en:C.UTF-8 de:de_DE.UTF-8; do
    name=${pair%%:*} locale=${pair#*:}
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    LC_ALL=$locale TS_XDISPLAY=$display "$here/wine-run.sh" "$prefix" "$build/bin/tsprogress.exe" \
        "Z:$out/progress-$name.bmp"
    python3 - "$out/progress-$name.bmp" "$out/progress-$name.png" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height = struct.unpack_from("<ii", data, 18)
stride = (width * 3 + 3) & ~3
rows = []
for y in range(height - 1, -1, -1):  # bottom-up BGR rows
    row = data[offset + y * stride: offset + y * stride + width * 3]
    rows.append(b"\0" + b"".join(row[x * 3: x * 3 + 3][::-1] for x in range(width)))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PY
    rm "$out/progress-$name.bmp"
    echo "snap-progress: $out/progress-$name.png"
done
