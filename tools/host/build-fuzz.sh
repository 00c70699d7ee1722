#!/usr/bin/env bash
# build-fuzz.sh <source-dir> <build-dir> [jobs]: builds the host's fuzz targets
# (tests/fuzz, libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer) with clang.
set -eu
src=$1 out=$2 jobs=${3:-2}
command -v clang++ >/dev/null || { echo "build-fuzz: clang++ is missing (tools/bootstrap.sh installs it)" >&2; exit 1; }
[ -f "$out/CMakeCache.txt" ] ||
    cmake -S "$src/tests/fuzz" -B "$out" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out" -j "$jobs"
