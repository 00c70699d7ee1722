#!/usr/bin/env bash
# build-host.sh <project-dir> <build-dir> <c-compiler> <c++-compiler> <lzma-sdk-C-dir>:
# configures and builds a CMake project for this (Linux) host: tools/host (the host's
# programs) or tests/fuzz (the fuzz targets). The main build runs it on every build.
set -eu
project=$1 out=$2 cc=$3 cxx=$4 sdk=$5
command -v "$cxx" >/dev/null || { echo "build-host: $cxx is missing (tools/bootstrap.sh installs it)" >&2; exit 1; }
cmake -S "$project" -B "$out" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DTS_LZMA_SOURCE="$sdk" >/dev/null
cmake --build "$out" -j 2
