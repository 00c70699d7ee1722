#!/usr/bin/env bash
# build-tslog.sh <source-dir> <output>: builds the log reader for this (Linux) host
# with the host's mbed TLS (libmbedtls-dev).
set -eu
src=$1 out=$2
mkdir -p "$(dirname "$out")"
g++ -std=c++17 -O2 -Wall -Wextra -I"$src" -o "$out" \
    "$src/tools/host/tslog.cpp" "$src/sys/libutils/logreader.cpp" "$src/sys/libutils/logcipher.cpp" -lmbedcrypto
