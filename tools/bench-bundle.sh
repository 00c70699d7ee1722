#!/usr/bin/env bash
# bench-bundle.sh <build-dir>: the bundler's wall time against 7-Zip alone, not a test.
#
# Bundles the demo product with the benchmark payload of about 200 MB (bench-payload.sh)
# and packs the same payload with 7zz and the bundler's settings. Each runs RUNS times (2); the
# faster run counts. Prints both times, their ratio and the stub's size.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
bench=$build/bench
product=$bench/bundle-product
[ -f "$bench/payload/text/log5.txt" ] || "$here/bench-payload.sh" "$bench/payload"
[ -f "$build/demo/product/strings.txt" ] || "$here/demo.sh" "$build" --bundle-only >/dev/null
rm -rf "$product" && cp -a "$build/demo/product" "$product"
cp -a "$bench/payload/." "$product/payload/"

best() { # label command...
    local label=$1 t best=
    shift
    for _ in $(seq "${RUNS:-2}"); do
        local start end
        start=$(date +%s.%N)
        "$@"
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    done
    printf '%s: %.2f s\n' "$label" "$best" >&2
    echo "$best"
}
pack() { rm -f "$bench/alone.7z"; (cd "$product/payload" && 7zz a -t7z -m0=lzma2 -mx=7 -ms=64m -mtm- -mtc- -mta- -mtr- \
    -bd -bso0 -bsp0 "$bench/alone.7z" .); }
alone=$(best "7zz alone" pack)
bundle=$(best "tsbundle" "$build/host/tsbundle" "$product" -o "$bench/Setup.exe" \
    --sign "$build/certs/test.chain.pem" "$build/certs/test.key")
echo "payload: $(du -sb "$product/payload" | cut -f1) bytes; bundle: $(stat -c %s "$bench/Setup.exe") bytes"
echo "ratio tsbundle / 7zz: $(echo "scale=3; $bundle / $alone" | bc)"
echo "stub: $(stat -c %s "$build/unsigned/Setup.exe") bytes stripped, symbols $(stat -c %s "$build/unsigned/Setup.dbg") bytes"
