#!/usr/bin/env bash
# build-tsbundle.sh <source-dir> <output>: builds the bundler for this (Linux) host.
set -eu
src=$1 out=$2
mkdir -p "$(dirname "$out")"
g++ -std=c++17 -O2 -Wall -Wextra -I"$src" -o "$out" \
    "$src/tools/bundle/main.cpp" "$src/tools/bundle/peimage.cpp" "$src/tools/bundle/productfolder.cpp"
