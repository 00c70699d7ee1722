#!/usr/bin/env bash
# Sets up a Debian 12 machine to build and test Setup. Idempotent: every step
# checks a stamp or the real state first, so a second run takes seconds.
#
#   tools/bootstrap.sh [build-dir]
#
# Dependency sources are built into $TS_DEPS (default /var/cache/tessaline-deps),
# outside the checkout. Wine prefixes are created under <build-dir>/wine.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$here/build}" && cd "${1:-$here/build}" && pwd)
deps=${TS_DEPS:-/var/cache/tessaline-deps}
log() { echo "bootstrap: $*"; }

SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo

packages=(
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
    wine wine32:i386 wine64 cmake make 7zip osslsigncode openssl wixl xvfb xdotool
    libboost-dev googletest libmbedtls-dev dpkg-dev g++ xauth python3
)

# --- apt: i386 multiarch, deb-src, packages --------------------------------
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "enabling i386"
    $SUDO dpkg --add-architecture i386
    need_update=1
fi
src_list=/etc/apt/sources.list.d/tessaline-deb-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    log "enabling deb-src"
    $SUDO tee "$src_list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    need_update=1
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
    log "installing ${missing[*]:-(sources only)}"
    $SUDO apt-get update -qq
    [ ${#missing[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- dependency sources, cross-built ----------------------------------------
CC=i686-w64-mingw32-gcc-posix
AR=i686-w64-mingw32-ar
$SUDO mkdir -p "$deps"
[ -w "$deps" ] || $SUDO chown "$(id -u)" "$deps"

fetch_source() { # package -> prints the unpacked folder
    local pkg=$1
    local dir
    dir=$(find "$deps/src" -maxdepth 1 -type d -name "$pkg-*" 2>/dev/null | head -1)
    if [ -z "$dir" ]; then
        mkdir -p "$deps/src"
        (cd "$deps/src" && apt-get source -qq "$pkg" >/dev/null 2>&1)
        dir=$(find "$deps/src" -maxdepth 1 -type d -name "$pkg-*" | head -1)
    fi
    echo "$dir"
}

if [ ! -f "$deps/mbedtls/lib/libmbedcrypto.a" ]; then
    log "building mbed TLS for i686-w64-mingw32"
    src=$(fetch_source mbedtls)
    rm -rf "$deps/mbedtls-build" && cp -a "$src" "$deps/mbedtls-build"
    make -s -C "$deps/mbedtls-build/library" CC=$CC AR=$AR WINDOWS=1 \
        CFLAGS="-O2 -I../include -D_FILE_OFFSET_BITS=64" static -j"$(nproc)" >/dev/null
    mkdir -p "$deps/mbedtls/lib" "$deps/mbedtls/include"
    cp "$deps/mbedtls-build/library/"lib*.a "$deps/mbedtls/lib/"
    cp -a "$deps/mbedtls-build/include/"* "$deps/mbedtls/include/"
    rm -rf "$deps/mbedtls-build"
fi

if [ ! -f "$deps/lzma/lib/liblzma7z.a" ]; then
    log "building the LZMA SDK 7z decoder for i686-w64-mingw32"
    src=$(fetch_source 7zip)
    out="$deps/lzma-build"
    rm -rf "$out" && mkdir -p "$out"
    files="7zAlloc 7zArcIn 7zBuf 7zBuf2 7zCrc 7zCrcOpt 7zDec 7zFile 7zStream Bcj2 Bra Bra86 BraIA64 CpuArch Delta Lzma2Dec LzmaDec"
    for f in $files; do
        [ -f "$src/C/$f.c" ] || continue
        $CC -O2 -c "$src/C/$f.c" -o "$out/$f.o" -D_7ZIP_PPMD_SUPPPORT=0
    done
    # BraIA64/Bra helpers moved between releases; link errors tell if one is missing.
    for f in ARM64 RISCV Sha256 Sha256Opt Ppmd7 Ppmd7Dec; do
        [ -f "$src/C/$f.c" ] && [ ! -f "$out/$f.o" ] && $CC -O2 -c "$src/C/$f.c" -o "$out/$f.o" || true
    done
    mkdir -p "$deps/lzma/lib" "$deps/lzma/include"
    $AR rcs "$deps/lzma/lib/liblzma7z.a" "$out"/*.o
    cp "$src/C/"*.h "$deps/lzma/include/"
    rm -rf "$out"
fi

# --- Wine prefixes (for the tests and the demo; building runs no Windows program) ---
if [ -n "${TS_NO_PREFIXES:-}" ]; then
    log "ready (deps in $deps; no Wine prefixes made)"
    exit 0
fi
make_prefix() { # dir arch
    local dir=$1 arch=$2
    if [ ! -f "$dir/system.reg" ] || [ ! -f "$dir/.tessaline-ready" ]; then
        log "creating the $arch Wine prefix $dir"
        rm -rf "$dir"
        mkdir -p "$(dirname "$dir")"
        WINEPREFIX=$dir WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            DISPLAY= wineboot -i >/dev/null 2>&1 || true
        WINEPREFIX=$dir wineserver -w || true
        [ -f "$dir/system.reg" ] || { echo "bootstrap: Wine prefix $dir was not created" >&2; exit 1; }
        touch "$dir/.tessaline-ready"
    fi
}
make_prefix "$build/wine/win32" win32
make_prefix "$build/wine/win64" win64

log "ready (deps in $deps, prefixes in $build/wine)"
