#!/usr/bin/env bash
# demo.sh <build-dir>: runs the signed Setup.exe of the build under Wine in the 32-bit
# and the 64-bit prefix and shows its run log and full exit code.
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
setup=$build/bin/Setup.exe
echo "Setup.exe: $setup"
osslsigncode verify -in "$setup" -CAfile "$build/certs/root.pem" 2>/dev/null | grep -E 'Subject:|Signature verification' | head -3
for arch in win32 win64; do
    prefix=$build/wine/$arch
    "$here/tools/wine-run.sh" "$prefix" "$build/bin/tstrustroot.exe" "$build/certs/root.der"
    log=$build/demo-$arch.log
    rm -f "$log"
    echo
    echo "=== $arch prefix: Setup.exe -silent -mupLogFile $(basename "$log")"
    "$here/tools/wine-run.sh" "$prefix" "$build/bin/tsrun.exe" "$setup" -silent -mupLogFile "Z:${log//\//\\}" | tr -d '\r'
    echo "--- run log"
    tr -d '\r' < "$log" 2>/dev/null || echo "(no run log)"
    WINEPREFIX=$prefix wineserver -k 2>/dev/null
done
