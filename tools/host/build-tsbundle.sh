#!/usr/bin/env bash
# build-tsbundle.sh <source-dir> <output>: builds the bundler for this (Linux) host, with
# Setup's own layout parser and the host's mbed TLS (libmbedtls-dev) for its hashes.
set -eu
src=$1 out=$2
mkdir -p "$(dirname "$out")"
g++ -std=c++17 -O2 -Wall -Wextra -I"$src" -o "$out" \
    "$src/tools/bundle/main.cpp" "$src/tools/bundle/peimage.cpp" "$src/tools/bundle/productfolder.cpp" \
    "$src/tools/bundle/signer.cpp" "$src/tools/bundle/digest.cpp" "$src/tools/bundle/signing.cpp" \
    "$src/tools/bundle/process.cpp" "$src/app/setup/driverlayout.cpp" "$src/sys/libutils/osnames.cpp" -lmbedcrypto
