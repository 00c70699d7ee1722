#!/usr/bin/env bash
# fuzz_corpus_host_test.sh <fuzz-build-dir> <corpus-root>: every host fuzz target runs
# once over each input of its corpus (corpus-root/<target>), and every target has one.
set -u
build=$1 corpus=$2
fail() { echo "FAIL: $*"; exit 1; }
# A failing input is written here, not into the current folder.
findings=$(mktemp -d)
trap 'rm -rf "$findings"' EXIT
shopt -s nullglob
targets=("$build"/fuzz_*)
[ ${#targets[@]} -gt 0 ] || fail "no fuzz targets in $build"
for program in "${targets[@]}"; do
    name=${program##*/fuzz_}
    dir=$corpus/$name
    [ -d "$dir" ] && [ -n "$(ls -A "$dir")" ] || fail "$name has no corpus in $dir"
    # -runs=0: each corpus input once, nothing new; the inputs stay as they are.
    if ! out=$("$program" -runs=0 -artifact_prefix="$findings/" "$dir" 2>&1); then
        echo "$out" | tail -n 40
        fail "$name fails on its corpus"
    fi
    echo "$name: $(echo "$out" | grep -o 'INITED.*corp: [0-9]*/[0-9a-zA-Z]*' | tail -1)"
done
for dir in "$corpus"/*/; do
    name=$(basename "$dir")
    [ -x "$build/fuzz_$name" ] || fail "corpus $name has no target fuzz_$name"
done
echo "fuzz corpus replay passed: ${#targets[@]} targets"
