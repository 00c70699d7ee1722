#!/usr/bin/env bash
# build-tsbundle.sh <source-dir> <output> <lzma-sdk-C-dir>: builds the bundler for this
# (Linux) host, with Setup's own layout parser and block plan, the host's mbed TLS
# (libmbedtls-dev) for its hashes, and the LZMA SDK's 7z decoder compiled from its source
# (the same files the bootstrap builds for Windows).
set -eu
src=$1 out=$2 sdk=$3
mkdir -p "$(dirname "$out")"
objects=$(dirname "$out")/tsbundle-lzma
mkdir -p "$objects"
for f in 7zAlloc 7zArcIn 7zBuf 7zCrc 7zCrcOpt 7zDec 7zFile 7zStream Bcj2 Bra Bra86 BraIA64 CpuArch Delta \
         Lzma2Dec LzmaDec; do
    gcc -O2 -c "$sdk/$f.c" -o "$objects/$f.o"
done
g++ -std=c++17 -O2 -Wall -Wextra -I"$src" -isystem "$sdk" -o "$out" \
    "$src/tools/bundle/main.cpp" "$src/tools/bundle/peimage.cpp" "$src/tools/bundle/productfolder.cpp" \
    "$src/tools/bundle/signer.cpp" "$src/tools/bundle/digest.cpp" "$src/tools/bundle/signing.cpp" \
    "$src/tools/bundle/process.cpp" "$src/tools/bundle/payloadmemory.cpp" "$src/app/setup/driverlayout.cpp" \
    "$src/app/setup/blockstream.cpp" "$src/sys/libutils/osnames.cpp" "$objects"/*.o -lmbedcrypto
