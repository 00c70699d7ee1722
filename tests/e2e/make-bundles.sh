#!/usr/bin/env bash
# make-bundles.sh <build-dir>: the Setup bundles of the end-to-end tests, in
# <build-dir>/testdata/e2e. Their installer programs are signed copies of tsrecorder,
# which records its command line, and their driver installer programs signed copies of
# the stub tsdpinst; each driver folder has a signed catalog. "demo" is the demo
# product's bundle. "recorder" opens its post-install page on the scheme tessaline-e2e;
# "pageno" has product string 6 "yes", which is not "Yes", and so opens none.
# "extradriver" has a driver folder besides VELA.
# "nocatalog" and "badcatalog" carry a VELA folder without a catalog and with one whose
# signature was damaged.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
build=$(cd "$1" && pwd)
out=$build/testdata/e2e
export TS_CERTS=$build/certs BUILD=$build
rm -rf "$out" && mkdir -p "$out"

recorder=$out/recorder-signed.exe
"$tools/sign.sh" "$build/bin/tsrecorder.exe" "$recorder"
dpinst=$out/dpinst-signed.exe
"$tools/sign.sh" "$build/bin/tsdpinst.exe" "$dpinst"
# As the real DpInst.exe is: signed by Microsoft.
"$tools/sign.sh" "$build/bin/tsdpinst.exe" "$out/dpinst-microsoft.exe" "$TS_CERTS/microsoft.chain.pem" \
    "$TS_CERTS/microsoft.key"

catalog() { # folder out.cat
    "$tools/make-catalog.py" "$2.unsigned" "$1"
    "$tools/sign.sh" "$2.unsigned" "$2"
    rm "$2.unsigned"
}

bundle() { # product-folder out.exe [options]: the folder's problems go to standard error
    "$build/host/tsbundle" "$1" -o "$2" --sign "$TS_CERTS/test.chain.pem" "$TS_CERTS/test.key" "${@:3}"
}

product() { # dir core-program [string-6]
    local dir=$1 core=$2 page=${3:-Yes}
    mkdir -p "$dir/payload/VELA/sub" "$dir/payload/DPINST32" "$dir/payload/DPINST64"
    cp "$tools/../product/demo/layout.txt" "$dir/"
    cat >"$dir/strings.txt" <<TXT
0=Tessaline E2E Test
1=e2e
2=
4=No
5=Yes
6=$page
7=MixedCase
8=tessaline-e2e://e2e.tessaline.com
TXT
    printf 'CoreVersion=7.9.1488.0\nProductVersion=2.1.40.0\nProductId={0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\n' \
        >"$dir/properties.txt"
    cp "$core" "$dir/payload/VELA/TessalineCore.dat"
    cp "$core" "$dir/payload/VELA/TessalineCore64.dat"
    printf '; e2e\r\n' >"$dir/payload/VELA/TessalineUsb.inf"
    printf 'driver\r\n' >"$dir/payload/VELA/tessaline.sys"
    printf '<dpinst/>\r\n' >"$dir/payload/VELA/DPInst.xml"
    printf 'nested\r\n' >"$dir/payload/VELA/sub/nested.txt"
    cp "$dpinst" "$dir/payload/DPINST32/DpInst.exe"
    cp "$dpinst" "$dir/payload/DPINST64/DpInst.exe"
    catalog "$dir/payload/VELA" "$dir/payload/VELA/sub/tessaline.cat"
    cp "$recorder" "$dir/ProductInstaller32.exe"
    cp "$recorder" "$dir/ProductInstaller64.exe"
    printf 'REGEDIT4\r\n[branding]\r\n' >"$dir/branding.dat"
    printf 'BANNER-DATA' >"$dir/banner.dat"
}

product "$out/recorder" "$recorder"
bundle "$out/recorder" "$out/recorder.exe" >/dev/null

product "$out/unsigned" "$build/bin/tsrecorder.exe"
# Setup must refuse what the bundler would: bundled despite the folder's problems.
bundle "$out/unsigned" "$out/unsigned.exe" --allow-problems >/dev/null 2>&1

product "$out/pageno" "$recorder" yes
bundle "$out/pageno" "$out/pageno.exe" >/dev/null

product "$out/short" "$recorder"
rm "$out/short/properties.txt"
head -c 58 /dev/zero | tr '\0' '\1' >"$out/short/properties.bin"
bundle "$out/short" "$out/short.exe" >/dev/null

# A signed bundle around an archive whose packed data is damaged.
product "$out/damaged" "$recorder"
(cd "$out/damaged/payload" && 7zz a -t7z -m0=lzma2 -mx=7 -bd -bso0 -bsp0 "$out/damaged/payload.7z" .)
# The packed streams follow the 32-byte start header; the archive's own header is at the end.
python3 -c 'import sys
p = sys.argv[1]
d = bytearray(open(p, "rb").read())
for i in range(64, 320):
    d[i] ^= 0x55
open(p, "wb").write(d)' "$out/damaged/payload.7z"
bundle "$out/damaged" "$out/damaged.exe" >/dev/null

# A payload without the Core package (which the bundler reports).
product "$out/nocore" "$recorder"
rm "$out/nocore/payload/VELA/TessalineCore.dat" "$out/nocore/payload/VELA/TessalineCore64.dat"
bundle "$out/nocore" "$out/nocore.exe" --allow-problems >/dev/null 2>&1

product "$out/nocatalog" "$recorder"
rm "$out/nocatalog/payload/VELA/sub/tessaline.cat"
bundle "$out/nocatalog" "$out/nocatalog.exe" --allow-problems >/dev/null 2>&1

product "$out/badcatalog" "$recorder"
"$tools/make-catalog.py" --damage-signature "$out/badcatalog/payload/VELA/sub/tessaline.cat" "$out/bad.cat"
mv "$out/bad.cat" "$out/badcatalog/payload/VELA/sub/tessaline.cat"
bundle "$out/badcatalog" "$out/badcatalog.exe" --allow-problems >/dev/null 2>&1

# Driver installer programs that are unsigned, and signed by Microsoft.
product "$out/dpinstunsigned" "$recorder"
for d in DPINST32 DPINST64; do cp "$build/bin/tsdpinst.exe" "$out/dpinstunsigned/payload/$d/DpInst.exe"; done
bundle "$out/dpinstunsigned" "$out/dpinstunsigned.exe" --allow-problems >/dev/null 2>&1
product "$out/dpinstms" "$recorder"
for d in DPINST32 DPINST64; do cp "$out/dpinst-microsoft.exe" "$out/dpinstms/payload/$d/DpInst.exe"; done
bundle "$out/dpinstms" "$out/dpinstms.exe" >/dev/null

# A signed catalog whose list of hashes was changed after signing (the system tests).
"$tools/make-catalog.py" --damage-list "$out/recorder/payload/VELA/sub/tessaline.cat" "$out/listchanged.cat"

# A second driver folder, which the driver pass (not only staging) runs the stub in.
product "$out/extradriver" "$recorder"
mkdir -p "$out/extradriver/payload/EXTRA"
printf '; extra\r\n' >"$out/extradriver/payload/EXTRA/extra.inf"
catalog "$out/extradriver/payload/EXTRA" "$out/extradriver/payload/EXTRA/extra.cat"
printf 'DRIVER "Extra Device" x64 * "EXTRA"\nDRIVER "Extra Device" x86 * "EXTRA"\n' >>"$out/extradriver/layout.txt"
bundle "$out/extradriver" "$out/extradriver.exe" >/dev/null

# A payload with the 32-bit Core package only: no staging, no driver extraction.
product "$out/core32only" "$recorder"
rm "$out/core32only/payload/VELA/TessalineCore64.dat"
bundle "$out/core32only" "$out/core32only.exe" --allow-problems >/dev/null 2>&1

# A driver file of 200 MB of comment lines, far larger than a solid block and packing to
# kilobytes; its payload folder goes once bundled.
product "$out/large" "$recorder"
python3 -c 'import sys
line = b"; a large driver file, padded.\r\n"
with open(sys.argv[1], "wb") as out:
    for _ in range(200):
        out.write(line * (1048576 // len(line)))' "$out/large/payload/VELA/TessalineUsb.inf"
catalog "$out/large/payload/VELA" "$out/large/payload/VELA/sub/tessaline.cat"
bundle "$out/large" "$out/large.exe" >/dev/null
rm -rf "$out/large/payload"

"$tools/demo.sh" "$build" --bundle-only >/dev/null
cp "$build/demo/Setup.exe" "$out/demo.exe"
cp "$build/demo/Setup-old.exe" "$out/demo-old.exe"
touch "$out/.done"
