#!/usr/bin/env bash
# bench-bundle.sh <build-dir>: the bundler's wall time against 7-Zip alone, not a test.
#
# Bundles the demo product with the benchmark payload of about 200 MB (bench-payload.sh)
# and packs the same payload with 7zz and the bundler's settings. Each runs RUNS times (2); the
# faster run counts. Prints both times with the load average at their end (the machine may be
# shared), their ratio, the bundler's own peak memory (a run on the packed archive as a
# ready payload.7z, so that 7-Zip's memory does not count) and the stub's size.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
bench=$build/bench
product=$bench/bundle-product
[ -f "$bench/payload/text/log5.txt" ] || "$here/bench-payload.sh" "$bench/payload"
[ -f "$build/demo/product/strings.txt" ] || "$here/demo.sh" "$build" --bundle-only >/dev/null
rm -rf "$product" && cp -a "$build/demo/product" "$product"
cp -a "$bench/payload/." "$product/payload/"

load() { cut -d' ' -f1-3 /proc/loadavg; }
best() { # label command...
    local label=$1 t best=
    shift
    for _ in $(seq "${RUNS:-2}"); do
        local start end
        start=$(date +%s.%N)
        "$@"
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc)
        printf '%s: %.2f s (load average %s)\n' "$label" "$t" "$(load)" >&2
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}
pack() { rm -f "$bench/alone.7z"; (cd "$product/payload" && 7zz a -t7z -m0=lzma2 -mx=7 -ms=64m -mtm- -mtc- -mta- -mtr- \
    -bd -bso0 -bsp0 "$bench/alone.7z" .); }
bundle() { "$build/host/tsbundle" "$product" -o "$bench/Setup.exe" --sign "$build/certs/test.chain.pem" "$build/certs/test.key"; }
alone=$(best "7zz alone" pack)
bundled=$(best "tsbundle" bundle)
echo "payload: $(du -sb "$product/payload" | cut -f1) bytes; bundle: $(stat -c %s "$bench/Setup.exe") bytes"
echo "ratio tsbundle / 7zz (best runs): $(echo "scale=3; $bundled / $alone" | bc)"
rm -rf "$bench/ready" && cp -a "$product" "$bench/ready" && rm -rf "$bench/ready/payload" && cp "$bench/alone.7z" "$bench/ready/payload.7z"
/usr/bin/time -f %M -o "$bench/memory" "$build/host/tsbundle" "$bench/ready" -o "$bench/Ready.exe"
echo "tsbundle peak memory with that $(stat -c %s "$bench/alone.7z")-byte archive: $(cat "$bench/memory") KB"
echo "stub: $(stat -c %s "$build/unsigned/Setup.exe") bytes stripped, symbols $(stat -c %s "$build/unsigned/Setup.dbg") bytes"
