#!/usr/bin/env bash
# bench-logger.sh [build-dir] [lines]: the logger's throughput (lines enciphered and
# written to its file, restarts included) and the cost of a line whose level is off.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
lines=${2:-20000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/tools/wine-run.sh" "$build/wine/win32" "$build/bin/tslogwriter.exe" --bench "Z:${work//\//\\}" "$lines"
