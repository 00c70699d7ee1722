#!/usr/bin/env bash
# snap-progress.sh <build-dir> [en de ja ar]: saves Setup's windows as users see them, in English,
# German, Japanese and Arabic: the progress window and the message boxes (33 up to date,
# 35 not an administrator, 36 unsupported Windows, 37 modified package, 48 the restart
# question), as <build-dir>/screenshots/<window>-<language>.png. It starts its own X server and Wine
# session in a 32-bit prefix of its own (<build-dir>/wine/snap, made on first use, so that
# it never meets a test run) and shows each window in a Wine virtual desktop, where
# Wine draws the frames and captions itself. The locales and the fonts for Japanese and
# Arabic come with tools/bootstrap.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
prefix=$build/wine/snap
out=$build/screenshots
mkdir -p "$out"
if [ ! -f "$prefix/.tessaline-ready" ]; then
    rm -rf "$prefix"
    WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= wineboot -i \
        >/dev/null 2>&1 || true
    WINEPREFIX=$prefix wineserver -w || true
    [ -f "$prefix/system.reg" ] || { echo "snap-progress: wineboot did not make $prefix" >&2; exit 1; }
    touch "$prefix/.tessaline-ready"
fi
# Wine draws the caption buttons with Marlett; Debian keeps Wine's own fonts (fonts-wine)
# where this Wine does not look, so the prefix gets a copy.
marlett=/usr/share/wine/fonts/marlett.ttf
[ -f "$marlett" ] && cp "$marlett" "$prefix/drive_c/windows/Fonts/"
xvfb_dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$xvfb_dir/display" >"$xvfb_dir/log" 2>&1 &
xvfb=$!
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null; rm -rf "$xvfb_dir"' EXIT
for _ in $(seq 300); do
    [ -s "$xvfb_dir/display" ] && break
    sleep 0.1
done
display=:$(head -n 1 "$xvfb_dir/display")

to_png() { # in.bmp out.png
    python3 - "$1" "$2" <<'PY'
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
}

shift
languages=${*:-en de ja ar}
status=0
for name in $languages; do
    case $name in
        en) locale=en_US.UTF-8 ;;
        de) locale=de_DE.UTF-8 ;;
        ja) locale=ja_JP.UTF-8 ;;
        ar) locale=ar_SA.UTF-8 ;;
        *) echo "snap-progress: no locale for $name" >&2; exit 2 ;;
    esac
    # Wine takes the user's language when its session starts.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    for window in progress up-to-date:33 not-admin:35 unsupported-os:36 modified:37 restart:48; do
        file=${window%%:*}-$name
        message=
        [ "$window" = "${window#*:}" ] || message=${window#*:}
        if ! LC_ALL=$locale TS_XDISPLAY=$display "$here/wine-run.sh" "$prefix" explorer /desktop=snap,800x600 \
            "$build/bin/tsprogress.exe" "Z:${out//\//\\}\\$file.bmp" $message || [ ! -s "$out/$file.bmp" ]; then
            echo "snap-progress: $file was not saved" >&2
            status=1
            continue
        fi
        to_png "$out/$file.bmp" "$out/$file.png"
        rm "$out/$file.bmp"
        echo "snap-progress: $out/$file.png"
    done
done
exit $status
