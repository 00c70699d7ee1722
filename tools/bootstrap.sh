#!/usr/bin/env bash
# Sets up a Debian 12 machine to build and test Setup. Idempotent: every step
# checks a stamp or the real state first, so a second run takes seconds.
#
#   tools/bootstrap.sh [build-dir]
#
# Dependency sources are built into $TS_DEPS (default /var/cache/tessaline-deps),
# outside the checkout. Wine prefixes are created under <build-dir>/wine.
# Where the kernel cannot run 32-bit x86 code, i386 programs (and so Wine's 32-bit side)
# run under qemu-user; TS_EMULATE=1 takes that path on any host.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$here/build}" && cd "${1:-$here/build}" && pwd)
deps=${TS_DEPS:-/var/cache/tessaline-deps}
log() { echo "bootstrap: $*"; }
fail() { echo "bootstrap: $*" >&2; exit 1; }
# run <what> <command...>: runs quietly; on failure shows the end of the output and
# stops, naming what failed.
run() {
    local what=$1 out
    shift
    out=$(mktemp)
    if ! "$@" >"$out" 2>&1; then
        tail -n 40 "$out" >&2
        rm -f "$out"
        fail "$what failed"
    fi
    rm -f "$out"
}
. "$here/tools/i386-emulation.sh"
. "$here/tools/apt-update.sh"

SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo

packages=(
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
    wine wine32:i386 wine64 cmake make 7zip osslsigncode openssl wixl xvfb xdotool nsis time
    libboost-dev googletest libmbedtls-dev dpkg-dev g++ xauth x11-utils python3
    clang libclang-rt-14-dev
    # For tools/snap-progress.sh: a Japanese font (Wine has none; Arabic renders with DejaVu
    # Sans, which Wine and Xvfb bring) and Wine's Marlett for the caption buttons.
    fonts-ipafont-gothic fonts-wine
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
    ts_apt_update "${missing[@]}" || exit 1
    [ ${#missing[@]} -eq 0 ] ||
        run "installing ${missing[*]}" $SUDO env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- 32-bit code: natively, or under qemu-user ---------------------------------
# binfmt_misc hands every i386 ELF program (Wine's 32-bit loader among them) to the
# emulator. Debian 12's own qemu-user (7.2) crashes multi-threaded Wine programs, so the
# emulator comes from bookworm-backports (10 or later).
binfmt=/proc/sys/fs/binfmt_misc
qemu_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
qemu_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
no_binfmt_remedy="Remedy: boot a kernel with IA-32 emulation (CONFIG_IA32_EMULATION; on some kernels the \
boot option ia32_emulation=1), or one with binfmt_misc, and run this as root (in a container: a \
privileged one, or register qemu-i386 on the host with the F flag)."

install_qemu() {
    local version
    version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
    if [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:10; then return; fi
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        log "enabling bookworm-backports"
        $SUDO tee /etc/apt/sources.list.d/tessaline-backports.sources >/dev/null <<'EOS'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOS
    fi
    log "installing qemu-user-static from bookworm-backports"
    ts_apt_update -t bookworm-backports qemu-user-static || exit 1
    run "installing qemu-user-static from bookworm-backports" $SUDO env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static
    version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
    dpkg --compare-versions "${version:-0}" ge 1:10 ||
        fail "qemu-user-static ${version:-(none)} is installed, 10 or later from bookworm-backports is needed"
}

register_qemu() {
    local want entry=$binfmt/qemu-i386
    want=$("$ts_qemu_i386" --version | head -n 1)
    if [ ! -e "$binfmt/register" ]; then
        grep -qw binfmt_misc /proc/filesystems || $SUDO modprobe binfmt_misc 2>/dev/null || true
        grep -qw binfmt_misc /proc/filesystems ||
            fail "this kernel runs no 32-bit x86 code and has no binfmt_misc to hand it to qemu. $no_binfmt_remedy"
        $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
            fail "this kernel runs no 32-bit x86 code, and mounting binfmt_misc on $binfmt failed (not root?). $no_binfmt_remedy"
    fi
    # A registration opened its interpreter when it was made (flag F): after an upgrade of
    # the package it still runs the old binary, so it is judged by what really runs.
    local running
    running=$(ts_i386_emulator)
    if [ -e "$entry" ] && grep -qx enabled "$entry" && grep -qx "interpreter $ts_qemu_i386" "$entry" &&
        [ "$running" = "$want" ]; then
        return
    fi
    if [ -e "$entry" ]; then
        log "replacing the stale qemu-i386 registration ($(sed -n 's/^interpreter //p' "$entry"), running ${running:-nothing})"
        echo -1 | $SUDO tee "$entry" >/dev/null 2>&1 || fail "removing the stale qemu-i386 registration $entry failed"
    fi
    log "registering $ts_qemu_i386 for i386 programs with binfmt_misc"
    printf ':qemu-i386:M::%s:%s:%s:FP\n' "$qemu_magic" "$qemu_mask" "$ts_qemu_i386" |
        $SUDO tee "$binfmt/register" >/dev/null 2>&1 ||
        fail "registering $ts_qemu_i386 with binfmt_misc failed (not root?). $no_binfmt_remedy"
    grep -qx enabled "$binfmt/status" || echo 1 | $SUDO tee "$binfmt/status" >/dev/null
    [ "$(ts_i386_emulator)" = "$want" ] ||
        fail "i386 programs still do not run under $want after registering it (another binfmt_misc entry in $binfmt takes them?)"
}

emulated=0
if [ "${TS_EMULATE:-0}" = 1 ] || [ -n "$(ts_i386_emulator)" ] || ! "$ts_i386_loader" --version >/dev/null 2>&1; then
    emulated=1
    [ "$(id -u)" = 0 ] || command -v sudo >/dev/null ||
        fail "this machine runs no 32-bit x86 code natively, and registering an emulator needs root. $no_binfmt_remedy"
    install_qemu
    register_qemu
    "$ts_i386_loader" --version >/dev/null 2>&1 || fail "$ts_i386_loader does not run under $(ts_i386_emulator)"
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
        (cd "$deps/src" && run "apt-get source $pkg" apt-get source -qq "$pkg") >&2 || exit 1
        dir=$(find "$deps/src" -maxdepth 1 -type d -name "$pkg-*" | head -1)
        [ -n "$dir" ] || fail "apt-get source $pkg left no $deps/src/$pkg-* folder"
    fi
    echo "$dir"
}

if [ ! -f "$deps/mbedtls/lib/libmbedcrypto.a" ]; then
    log "building mbed TLS for i686-w64-mingw32"
    src=$(fetch_source mbedtls)
    rm -rf "$deps/mbedtls-build" && cp -a "$src" "$deps/mbedtls-build"
    run "building mbed TLS" make -s -C "$deps/mbedtls-build/library" CC=$CC AR=$AR WINDOWS=1 \
        CFLAGS="-O2 -I../include -D_FILE_OFFSET_BITS=64" static -j"$(nproc)"
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
    # The decoder with its filters; PPMd stays out (Z7_PPMD_SUPPORT is left undefined).
    files="7zAlloc 7zArcIn 7zBuf 7zBuf2 7zCrc 7zCrcOpt 7zDec 7zFile 7zStream Bcj2 Bra Bra86 BraIA64 CpuArch Delta Lzma2Dec LzmaDec"
    for f in $files; do
        [ -f "$src/C/$f.c" ] || fail "the LZMA SDK in $src has no C/$f.c"
        run "compiling the LZMA SDK's C/$f.c" $CC -O2 -c "$src/C/$f.c" -o "$out/$f.o"
    done
    run "archiving the LZMA SDK decoder" $AR rcs "$out/liblzma7z.a" "$out"/*.o
    # Everything Setup calls must link from these objects alone.
    cat >"$out/linkcheck.c" <<'EOC'
#include "7z.h"
#include "7zCrc.h"
#include "7zFile.h"
int main(void)
{
    CSzArEx db; CFileInStream file; CLookToRead2 look;
    CrcGenerateTable(); FileInStream_CreateVTable(&file); LookToRead2_CreateVTable(&look, 0);
    SzArEx_Init(&db);
    SzArEx_Open(&db, &look.vt, 0, 0);
    SzArEx_Extract(&db, &look.vt, 0, 0, 0, 0, 0, 0, 0, 0);
    SzArEx_GetFileNameUtf16(&db, 0, 0);
    SzArEx_Free(&db, 0);
    return 0;
}
EOC
    run "linking against the LZMA SDK decoder" $CC -I"$src/C" "$out/linkcheck.c" "$out/liblzma7z.a" -o "$out/linkcheck.exe"
    mkdir -p "$deps/lzma/lib" "$deps/lzma/include"
    cp "$src/C/"*.h "$deps/lzma/include/"
    mv "$out/liblzma7z.a" "$deps/lzma/lib/liblzma7z.a"
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
        local out=$build/wine/wineboot-$arch.log
        WINEPREFIX=$dir WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            DISPLAY= wineboot -i >"$out" 2>&1 || true
        WINEPREFIX=$dir wineserver -w || true
        if [ ! -f "$dir/system.reg" ]; then
            tail -n 20 "$out" >&2
            fail "Wine prefix $dir was not created: wineboot failed (its output: $out)"
        fi
        touch "$dir/.tessaline-ready"
    fi
}
make_prefix "$build/wine/win32" win32
make_prefix "$build/wine/win64" win64

# Under the emulator, a program with several threads talking to the Wine server is what
# breaks first: try one before anything else relies on it, once per emulator and Wine.
if [ $emulated = 1 ]; then
    emulator=$(ts_i386_emulator)
    stamp=$build/wine/.threadcheck-passed
    if [ "$(cat "$stamp" 2>/dev/null)" != "$emulator, $(wine --version)" ]; then
        check=$build/wine/threadcheck.exe
        run "compiling tools/threadcheck.c" $CC -O2 -static "$here/tools/threadcheck.c" -o "$check"
        out=$(WINEPREFIX=$build/wine/win32 WINEDEBUG=-all DISPLAY= timeout 300 wine "$check" 2>&1 </dev/null) || true
        WINEPREFIX=$build/wine/win32 wineserver -k 2>/dev/null || true
        grep -qx 'threads ok' <<<"${out//$'\r'/}" || {
            printf '%s\n' "$out" | tail -n 20 >&2
            fail "a four-thread Windows program failed under $emulator"
        }
        echo "$emulator, $(wine --version)" >"$stamp"
    fi
    log "32-bit code runs under emulation ($emulator): everything is slower"
fi

log "ready (deps in $deps, prefixes in $build/wine)"
