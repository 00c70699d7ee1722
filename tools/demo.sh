#!/usr/bin/env bash
# demo.sh <build-dir> [--bundle-only]: builds the demo product's signed Setup.exe (product/demo)
# and the same product's older release (Setup-old.exe: Core 7.8.1300.0, product 2.0.0.0),
# then, in a fresh 32-bit and a fresh 64-bit Wine prefix: stages the drivers (the driver
# installer stub's record shows the VELA folder and its command line; staging installs
# neither the Core software nor the product), then, as customers meet it, installs the
# older release, installs the current one over it, runs the current one again (15622)
# and the older one over the newer (15622, nothing downgraded). It prints the run logs,
# the full exit codes, the registry values the installers wrote, the Windows Installer
# registrations and logs. Then it runs the current one once more with its user interface
# (-suppressUpToDateInfo), whose post-install page address a recorder registered for the
# demo's page scheme receives.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=$(cd "$1" && pwd)
demo=$build/demo
export TS_CERTS=${TS_CERTS:-$build/certs}

old_core_version=7.8.1300.0
old_product_version=2.0.0.0

stage_product() { # folder-name [core-version product-version]: the product folder $demo/<name>
    local product=$demo/$1 packages=$demo/$1-packages
    rm -rf "$product" "$packages"
    mkdir -p "$packages"
    cp -a "$source_dir/product/demo" "$product"
    if [ $# = 3 ]; then
        sed -i "s/^CoreVersion=.*/CoreVersion=$2/; s/^ProductVersion=.*/ProductVersion=$3/" "$product/properties.txt"
    fi
    local core_version product_version product_name
    core_version=$(sed -n 's/^CoreVersion=//p' "$product/properties.txt")
    product_version=$(sed -n 's/^ProductVersion=//p' "$product/properties.txt")
    product_name=$(sed -n 's/^0=//p' "$product/strings.txt")

    # The Core software's installer API library, beside the package sources for wixl.
    cp "$build/bin/tsinstallerapi.dll" "$product/installers/TsInstallerApi.dll"
    # name wxs arch version upgrade-code component-guid
    package() {
        local name=$1 wxs=$2 arch=$3 version=$4 upgrade=$5 component=$6 files win64=no
        files=ProgramFilesFolder
        [ "$arch" = x64 ] && files=ProgramFiles64Folder win64=yes
        wixl -a "$arch" -D Version="$version" -D UpgradeCode="$upgrade" -D ComponentGuid="$component" \
            -D ProgramFiles=$files -D Win64=$win64 -D ProductName="$product_name" \
            -o "$packages/$name.msi" "$product/installers/$wxs" 2>/dev/null
        # The launcher carries the package as resource "MSI" 1 and hands its arguments to msiexec.
        cp "$build/bin/tsmsilauncher.exe" "$packages/$name.exe"
        "$build/host/tsbundle" --add-resources "$packages/$name.exe" MSI 1 0 "$packages/$name.msi"
    }
    # The Core software's upgrade code is the one Setup asks its installer API about.
    package core32 core.wxs x86 "$core_version" 5B1C1A52-6F0B-4E53-9C38-1D2A6F0E7A00 0C3E2A11-8B1D-4E0A-9F3B-2B6B2E5C9D01
    package core64 core.wxs x64 "$core_version" 5B1C1A52-6F0B-4E53-9C38-1D2A6F0E7A00 0C3E2A11-8B1D-4E0A-9F3B-2B6B2E5C9D02
    package product32 product.wxs x86 "$product_version" 8D4F7B20-3A61-4C5E-A0B2-6E9C1D3F5A01 2F6A9C33-7E1B-4D2C-8A4F-1B3D5E7F9C01
    package product64 product.wxs x64 "$product_version" 8D4F7B20-3A61-4C5E-A0B2-6E9C1D3F5A02 2F6A9C33-7E1B-4D2C-8A4F-1B3D5E7F9C02

    "$here/sign.sh" "$packages/core32.exe" "$product/payload/VELA/TessalineCore.dat"
    "$here/sign.sh" "$packages/core64.exe" "$product/payload/VELA/TessalineCore64.dat"
    "$here/sign.sh" "$packages/product32.exe" "$product/ProductInstaller32.exe"
    "$here/sign.sh" "$packages/product64.exe" "$product/ProductInstaller64.exe"
    # The driver installer stub stands in for DpInst.exe until the driver packages ship (git
    # keeps no empty folders, so they are made here); the VELA package gets its signed catalog.
    mkdir -p "$product/payload/DPINST32" "$product/payload/DPINST64"
    "$here/sign.sh" "$build/bin/tsdpinst.exe" "$product/payload/DPINST32/DpInst.exe"
    "$here/sign.sh" "$build/bin/tsdpinst.exe" "$product/payload/DPINST64/DpInst.exe"
    "$here/make-catalog.py" "$packages/tessaline.cat" "$product/payload/VELA"
    "$here/sign.sh" "$packages/tessaline.cat" "$product/payload/VELA/tessaline.cat"
    rm -rf "$product/installers"
}

fresh_prefix() { # dir arch
    local dir=$1 arch=$2
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    WINEPREFIX=$dir WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX=$dir wineserver -w || true
    "$here/wine-run.sh" "$dir" "$build/bin/tstrustroot.exe" "Z:$build/certs/root.der" >/dev/null
}

run_setup() { # prefix bundle log-name options...
    local prefix=$1 bundle=$2 log=$3; shift 3
    rm -f "$demo/$log"
    "$here/wine-run.sh" "$prefix" "$build/bin/tsrun.exe" "Z:$demo/$bundle" "$@" -mupLogFile "Z:$demo/$log" | tr -d '\r'
    echo "--- run log:"
    tr -d '\r' <"$demo/$log" 2>/dev/null || echo "(none)"
}

sign=(--sign "$TS_CERTS/test.chain.pem" "$TS_CERTS/test.key")
[ -z "${TS_SIGN_PFX:-}" ] || sign=(--sign-pkcs12 "$TS_SIGN_PFX" ${TS_SIGN_PASS:+--pass "$TS_SIGN_PASS"}
                                  ${TS_SIGN_TIMESTAMP:+--timestamp "$TS_SIGN_TIMESTAMP"})
stage_product product
"$build/host/tsbundle" "$demo/product" -o "$demo/Setup.exe" "${sign[@]}"
stage_product product-old "$old_core_version" "$old_product_version"
"$build/host/tsbundle" "$demo/product-old" -o "$demo/Setup-old.exe" "${sign[@]}"
[ "${2:-}" = --bundle-only ] && exit 0

# The Windows Installer registrations of the demo's packages (Add/Remove Programs entries).
registrations() { # prefix
    "$here/wine-run.sh" "$1" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:64 2>/dev/null |
        tr -d '\r' | grep -E '^ +DisplayName +REG_SZ +(Tessaline Core|Tessaline Graphics)$' | sed 's/^ *DisplayName *REG_SZ *//' | sort
}

status=0
for arch in win32 win64; do
    prefix=$demo/wine/$arch
    echo "=== $arch: fresh prefix"
    fresh_prefix "$prefix" "$arch"
    WINEPREFIX=$prefix wineserver -p 60 || true
    echo "=== $arch: staging the drivers (-silent -stageDrivers)"
    record=$demo/dpinst-$arch.txt
    rm -f "$record"
    out=$(TS_DPINST_RECORD="Z:$record" run_setup "$prefix" Setup.exe "run0-$arch.log" -silent -stageDrivers)
    echo "$out"
    echo "--- driver installer stub (folder, command line):"
    tr -d '\r' <"$record" 2>/dev/null | cut -f1,2 || echo "(did not run)"
    grep -q '^exit code: 0 ' <<<"$out" && grep -q 'VELA.DpInst.exe" /q /se' "$record" 2>/dev/null || status=1
    echo "=== $arch: the older release (Core $old_core_version, product $old_product_version), -silent"
    out=$(run_setup "$prefix" Setup-old.exe "run1-$arch.log" -silent)
    echo "$out"
    grep -q '^exit code: 0 ' <<<"$out" || status=1
    echo "=== $arch: the current release over it, -silent"
    out=$(run_setup "$prefix" Setup.exe "run2-$arch.log" -silent)
    echo "$out"
    grep -q '^exit code: 0 ' <<<"$out" || status=1
    grep -q "Previous version: $old_core_version" <<<"$out" || { echo "previous version not logged"; status=1; }
    echo "--- registry:"
    for key in 'HKLM\SOFTWARE\Tessaline\Core' 'HKLM\SOFTWARE\Tessaline\Products\Tessaline Graphics'; do
        "$here/wine-run.sh" "$prefix" reg query "$key" /reg:64 2>/dev/null | tr -d '\r' | grep -v '^$' ||
            { echo "$key: missing"; status=1; }
    done
    echo "--- Windows Installer registrations:"
    regs=$(registrations "$prefix")
    echo "$regs"
    [ "$regs" = "$(printf 'Tessaline Core\nTessaline Graphics')" ] || { echo "not one registration per package"; status=1; }
    echo "--- Windows Installer logs:"
    logs=$(find "$prefix/drive_c/users" -maxdepth 5 \( -name 'TSC????.LOG' -o -name 'TSP????.LOG' \) -printf '%P\n')
    echo "${logs:-(none)}"
    grep -q '/TSC....\.LOG$' <<<"$logs" && grep -q '/TSP....\.LOG$' <<<"$logs" || status=1
    echo "=== $arch: the current release again"
    out=$(run_setup "$prefix" Setup.exe "run3-$arch.log")
    echo "$out"
    grep -q '^exit code: 15622 ' <<<"$out" || status=1
    grep -q 'Previous version: 7.9.1488.0' <<<"$out" || { echo "previous version not logged"; status=1; }
    echo "=== $arch: the older release over the newer"
    out=$(run_setup "$prefix" Setup-old.exe "run4-$arch.log")
    echo "$out"
    grep -q '^exit code: 15622 ' <<<"$out" || status=1
    "$here/wine-run.sh" "$prefix" reg query 'HKLM\SOFTWARE\Tessaline\Core' /v Version /reg:64 2>/dev/null |
        tr -d '\r' | grep -q 'REG_SZ *7\.9\.1488\.0$' || { echo "the Core software was downgraded"; status=1; }
    echo "=== $arch: the current release, -suppressUpToDateInfo, with its user interface"
    record=$demo/page-$arch.txt
    rm -f "$record"
    "$here/wine-run.sh" "$prefix" reg add 'HKCR\tessaline-demo\shell\open\command' /ve /f \
        /d "\"Z:$build/bin/tsrecorder.exe\" \"%1\"" >/dev/null
    out=$(TS_RECORD_FILE="Z:$record" run_setup "$prefix" Setup.exe "run5-$arch.log" -suppressUpToDateInfo)
    echo "$out"
    grep -q '^exit code: 0 ' <<<"$out" || status=1
    # Setup does not wait for the page's handler; the stand-in driver installers record
    # their command lines in the same file.
    for _ in $(seq 50); do grep -qs installcomplete "$record" && break; sleep 0.2; done
    echo "--- post-install page:"
    tr -d '\r' <"$record" 2>/dev/null | sed -n 's/^"[^"]*" "\(.*installcomplete.*\)"$/\1/p' | grep . ||
        { echo "(none)"; status=1; }
    WINEPREFIX=$prefix wineserver -k || true
done
[ $status = 0 ] && echo "demo: installed in both prefixes" || echo "demo: FAILED" >&2
exit $status
