#!/usr/bin/env bash
# make-archives.sh <out-dir>: the 7z archives of the extraction tests, made with 7zz.
set -euo pipefail
out=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tsarchives.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.7z

# A payload tree: nested folders, an empty folder, an empty file, non-ASCII names, and
# incompressible data; two files per solid block so that blocks change between files.
tree=$work/tree
mkdir -p "$tree/VELA/sub/deep" "$tree/DPINST32" "$tree/emptydir" "$tree/Ünïcode"
head -c 300000 /dev/urandom >"$tree/VELA/TessalineCore.dat"
head -c 200000 /dev/urandom >"$tree/VELA/TessalineCore64.dat"
printf 'deep file\r\n' >"$tree/VELA/sub/deep/file.txt"
: >"$tree/VELA/empty.bin"
seq 1 20000 >"$tree/DPINST32/numbers.txt"
printf 'cyrillic' >"$tree/Ünïcode/данные.txt"
printf 'cjk' >"$tree/日本.txt"
(cd "$tree" && 7zz a -t7z -m0=lzma2 -ms=2f -bso0 -bsp0 "$out/tree.7z" .)
(cd "$tree" && 7zz a -t7z -m0=Copy -bso0 -bsp0 "$out/stored.7z" VELA/sub)
(cd "$tree" && 7zz a -t7z -m0=BZip2 -bso0 -bsp0 "$out/bzip2.7z" VELA/sub)

# Four solid blocks of two incompressible files each, for extraction on several threads;
# a copy with a flipped byte in the second file of the third block.
mkdir -p "$work/blocks"
python3 - "$work/blocks" <<'PY'
import random, sys
random.seed(16)
for n in range(1, 9):
    open("%s/part%d.bin" % (sys.argv[1], n), "wb").write(random.randbytes(100000))
PY
(cd "$work/blocks" && 7zz a -t7z -m0=lzma2 -ms=2f -bso0 -bsp0 "$out/blocks.7z" .)
python3 - "$out" <<'PY'
import sys
data = bytearray(open(sys.argv[1] + "/blocks.7z", "rb").read())
# Packed blocks follow the 32-byte start header; each is 200016 bytes (stored LZMA2 chunks).
data[32 + 2 * 200016 + 150000] ^= 0xFF
open(sys.argv[1] + "/blocks-crc.7z", "wb").write(data)
PY

# Only the 32-bit Core package.
(cd "$tree" && 7zz a -t7z -bso0 -bsp0 "$out/core32only.7z" VELA/TessalineCore.dat)

# Entry names that leave the folder: a plain name of the same length is patched into
# the uncompressed header, and the header CRC is made right again.
mkdir -p "$work/evil/zz"
printf 'first\n' >"$work/evil/first.txt"
printf 'outside\n' >"$work/evil/zz/outside.txt"
(cd "$work/evil" && 7zz a -t7z -mhc=off -m0=Copy -bso0 -bsp0 "$work/evil.7z" first.txt zz/outside.txt)
python3 - "$work/evil.7z" "$out" <<'PY'
import struct, sys, zlib
data = bytearray(open(sys.argv[1], "rb").read())
plain = "zz/outside.txt".encode("utf-16-le")
at = data.find(plain)
assert at > 0
offset, size = struct.unpack_from("<QQ", data, 12)
for name, evil in (("dotdot", "../outside.txt"), ("drive", "C:/outside.txt"), ("rooted", "/zzoutside.txt"),
                   ("backslash", "\\zzoutside.txt"), ("inner", "zz/../../o.txt")):
    patched = bytearray(data)
    patched[at:at + len(plain)] = evil.encode("utf-16-le")
    header = bytes(patched[32 + offset:32 + offset + size])
    struct.pack_into("<I", patched, 28, zlib.crc32(header))
    struct.pack_into("<I", patched, 8, zlib.crc32(bytes(patched[12:32])))
    open("%s/evil-%s.7z" % (sys.argv[2], name), "wb").write(patched)
# No names at all: the names property turns into padding, which readers skip.
first = "first.txt".encode("utf-16-le")
at = data.find(first)
assert data[at - 1] == 0 and data[at - 3] == 0x11
patched = bytearray(data)
patched[at - 3] = 0x19
header = bytes(patched[32 + offset:32 + offset + size])
struct.pack_into("<I", patched, 28, zlib.crc32(header))
struct.pack_into("<I", patched, 8, zlib.crc32(bytes(patched[12:32])))
open("%s/nonames.7z" % sys.argv[2], "wb").write(patched)
PY

# Damaged archives: a flipped byte in stored data, a cut-off archive, no archive at all.
python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
data = bytearray(open(out + "/stored.7z", "rb").read())
data[40] ^= 0xFF
open(out + "/crc.7z", "wb").write(data)
data = open(out + "/tree.7z", "rb").read()
open(out + "/truncated.7z", "wb").write(data[:len(data) // 2])
open(out + "/notarchive.7z", "wb").write(b"This is not a 7z archive.\r\n" * 10)
PY

# Small archives that the mutation test damages: solid LZMA2 in blocks of two files with
# a packed header, the same with a plain header (so that damage reaches names, sizes and
# attributes), stored files with a plain header, and a BCJ filter before LZMA.
small=$work/small
mkdir -p "$small/VELA/sub" "$small/DPINST32" "$small/emptydir"
seq 1 400 >"$small/VELA/TessalineCore.dat"
printf 'MZ%04000d' 0 | tr 0 '\220' >"$small/DPINST32/DpInst.exe"
printf '[Version]\r\nDriverVer=12/01/2026,7.9.1488.0\r\n' >"$small/VELA/TessalineUsb.inf"
printf 'deep\r\n' >"$small/VELA/sub/file.txt"
: >"$small/VELA/empty.bin"
printf 'x' >"$small/Ünïcode.txt"
for archive in "lzma2 -m0=lzma2 -ms=2f" "plainheader -m0=lzma2 -ms=2f -mhc=off" "copy -m0=Copy -mhc=off" \
               "bcj -mf=BCJ -m0=lzma -ms=off"; do
    set -- $archive
    name=$1
    shift
    (cd "$small" && 7zz a -t7z "$@" -bso0 -bsp0 "$out/seed-$name.7z" .)
done

# One file of 3.2 MB (random data that repeats every 400000 bytes) under each streamed
# structure: branch and delta filters (past the filter's buffer), dictionaries smaller
# than the file (the window wraps), and BCJ2, which is decoded whole.
mkdir -p "$work/stream"
python3 - "$work/stream/data.bin" <<'PY'
import random, sys
random.seed(26)
open(sys.argv[1], "wb").write(random.randbytes(400000) * 8)
PY
cp "$work/stream/data.bin" "$out/stream-data.bin"
for archive in "bcj -mf=BCJ -m0=lzma2" "arm64 -mf=ARM64 -m0=lzma2" "delta -mf=Delta:4 -m0=lzma2" \
               "arm -mf=ARM -m0=lzma2" "window2 -mf=off -m0=lzma2:d=1m" "window1 -mf=off -m0=lzma:d=256k" \
               "bcj2 -mf=BCJ2 -m0=lzma2"; do
    set -- $archive
    name=$1
    shift
    (cd "$work/stream" && 7zz a -t7z "$@" -bso0 -bsp0 "$out/stream-$name.7z" data.bin)
done
