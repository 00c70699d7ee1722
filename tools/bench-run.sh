#!/usr/bin/env bash
# bench-run.sh <build-dir>: a whole silent installation by the demo bundle carrying the
# benchmark payload (bench-payload.sh) against an NSIS bundle (SetCompressor /SOLID lzma)
# that unpacks the same payload into a temporary folder and runs the same installer stubs
# silently. Not a test.
#
# Each run starts from a copy of one fresh 32-bit prefix (nothing installed, wineserver
# already up). The installer stubs append their own life times to TS_CHILD_TIMES; a
# bundle's overhead is its wall time minus the sum of those, the same way for both. The
# bundle's own CPU time (without its installers) is printed too: a shared machine
# stretches wall times. RUNS (2) runs each; the one with the least overhead counts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
bench=$build/bench
work=$bench/run
mkdir -p "$work"
. "$here/bench-common.sh"
[ -f "$bench/payload/text/log5.txt" ] || "$here/bench-payload.sh" "$bench/payload"
# The demo product, made again when its installer stubs do not yet record their times.
if [ ! -f "$build/demo/product/strings.txt" ] ||
   ! strings -el "$build/demo/product/payload/DPINST32/DpInst.exe" | grep -q TS_CHILD_TIMES; then
    "$here/demo.sh" "$build" --bundle-only >/dev/null
fi
# Both bundles are kept; delete $work to make them again from a new payload or product.
product=$work/product
if [ ! -f "$product/.made" ]; then
    rm -rf "$product" && cp -a "$build/demo/product" "$product"
    cp -a "$bench/payload/." "$product/payload/"
    touch "$product/.made"
fi
# Ours again whenever Setup itself was built anew.
if [ ! -f "$work/Setup.exe" ] || [ "$product/.made" -nt "$work/Setup.exe" ] || [ "$build/bin/Setup.exe" -nt "$work/Setup.exe" ]; then
    "$build/host/tsbundle" "$product" -o "$work/Setup.exe" --sign "$build/certs/test.chain.pem" "$build/certs/test.key" >/dev/null
fi
# The NSIS bundle runs the Core and product installers as Setup does, and the driver
# installer stub too, which Setup skips for the demo's layout (it names only VELA): that
# run counts among the installers' time, so the overheads stay comparable.
if [ ! -f "$work/nsis-setup.exe" ] || [ "$product/.made" -nt "$work/nsis-setup.exe" ]; then
    cat >"$work/setup.nsi" <<NSI
Unicode true
SetCompressor /SOLID lzma
Name "Tessaline Graphics"
OutFile "$work/nsis-setup.exe.part"
RequestExecutionLevel admin
SilentInstall silent
Section
  InitPluginsDir
  SetOutPath "\$PLUGINSDIR\\payload"
  File /r "$product/payload/*"
  SetOutPath "\$PLUGINSDIR"
  File "$product/ProductInstaller32.exe"
  ExecWait '"\$PLUGINSDIR\\payload\\VELA\\TessalineCore.dat" /exelang 1033 /qn /norestart TS_COREDRIVER_PATH="\$PLUGINSDIR\\payload\\VELA\\TessalineUsb.inf"' \$0
  CopyFiles /SILENT "\$PLUGINSDIR\\payload\\DPINST32\\DpInst.exe" "\$PLUGINSDIR\\payload\\VELA"
  SetOutPath "\$PLUGINSDIR\\payload\\VELA"
  ExecWait '"\$PLUGINSDIR\\payload\\VELA\\DpInst.exe" /q /se' \$0
  SetOutPath "\$PLUGINSDIR"
  ExecWait '"\$PLUGINSDIR\\ProductInstaller32.exe" AUTOMATICUPDATECHECK=no TS_RESTART_TSM=Yes /qn' \$0
SectionEnd
NSI
    makensis -V1 "$work/setup.nsi" >/dev/null
    mv "$work/nsis-setup.exe.part" "$work/nsis-setup.exe"
fi
echo "bundles: ours $(stat -c %s "$work/Setup.exe") bytes, NSIS $(stat -c %s "$work/nsis-setup.exe") bytes"

# One fresh prefix, copied for every run.
template=$work/wine/template
if [ ! -f "$template/.ready" ]; then
    rm -rf "$template" && mkdir -p "$(dirname "$template")"
    WINEPREFIX=$template WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX=$template wineserver -w || true
    "$here/wine-run.sh" "$template" "$build/bin/tstrustroot.exe" "Z:$build/certs/root.der" >/dev/null
    WINEPREFIX=$template wineserver -w || true
    touch "$template/.ready"
fi
prefix=$work/wine/run

one_run() { # program args...: "wall_ms cpu_ms max_rss_kb exit_code installers_ms installer_runs"
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    rm -rf "$prefix" && cp -a "$template" "$prefix"
    WINEPREFIX=$prefix wineserver -p 60
    "$here/wine-run.sh" "$prefix" "$build/bin/tsexit.exe" 0 >/dev/null || true
    local times=$work/installers.txt r
    rm -f "$times"
    r=$(TS_CHILD_TIMES="$(win "$times")" timed "$prefix" "$@")
    echo "$r $(awk '{ s += ($3 - $2) / 10000 } END { printf "%.0f %d", s, NR }' "$times" 2>/dev/null || echo "0 0")"
}
best() { # label program args...: the run with the least overhead (wall time - installers)
    local label=$1 best= r
    shift
    for _ in $(seq "${RUNS:-2}"); do
        r=$(one_run "$@")
        read -r wall cpu rss code children count <<<"$r"
        echo "  $label: exit $code, wall $wall ms, own cpu $cpu ms, installers $children ms ($count runs), overhead $((wall - children)) ms, max rss $((rss / 1024)) MB" >&2
        if [ -z "$best" ] || [ $((wall - children)) -lt "$(awk '{ print $1 - $5 }' <<<"$best")" ]; then best=$r; fi
    done
    echo "$best"
}
load
ours=$(best "Setup" "$work/Setup.exe" -silent -mupLogFile "$(win "$work/run.log")")
theirs=$(best "NSIS " "$work/nsis-setup.exe" /S)
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
load
grep -q "Installation completed successfully." <(tr -d '\r' <"$work/run.log") ||
    echo "whole run   Setup's run log does not end in success: see $work/run.log"
awk -v a="$ours" -v b="$theirs" 'BEGIN {
    split(a, o, " "); split(b, n, " ");
    printf "whole run   Setup: wall %d ms, overhead %d ms (installers %d ms), own cpu %d ms, max rss %.1f MB (exit %s)\n", o[1], o[1] - o[5], o[5], o[2], o[3] / 1024, o[4];
    printf "whole run   NSIS:  wall %d ms, overhead %d ms (installers %d ms), own cpu %d ms, max rss %.1f MB (exit %s)\n", n[1], n[1] - n[5], n[5], n[2], n[3] / 1024, n[4];
    printf "whole run   ratio Setup / NSIS: wall %.2f, overhead %.2f (goal <= 0.30: %s), own cpu %.2f\n",
        o[1] / n[1], (o[1] - o[5]) / (n[1] - n[5]), (o[1] - o[5]) <= 0.3 * (n[1] - n[5]) ? "met" : "missed", o[2] / n[2] }'
