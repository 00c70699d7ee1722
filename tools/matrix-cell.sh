#!/usr/bin/env bash
# matrix-cell.sh <build-dir> <prefix> <windows> [ts_e2e arguments...]
# One cell of the Windows matrix: presents the Wine prefix (win32 or win64) as the named
# Windows through the version values in the registry, as that Windows keeps them (with no
# version configured for Wine itself, Wine reports what they say; Setup reads them for
# Windows 10 and later), checks that Setup's classification agrees, then runs the
# end-to-end suite there, or for a Windows that Setup refuses, a silent Setup that must end
# with 1633. The prefix gets its own values back afterwards. The outcome goes to
# <build-dir>/matrix/<windows>-<prefix>.result for tools/matrix.sh.
# Run it through CTest (the Windows-version lock keeps other tests out of the prefix).
set -u
build=$(cd "$1" && pwd) prefix_name=$2 windows=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
prefix=$build/wine/$prefix_name
result=$build/matrix/$windows-$prefix_name.result
mkdir -p "$build/matrix"
work=$(mktemp -d)
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
wine_run() { "$here/wine-run.sh" "$prefix" "$@"; }
report() { echo "$*" >"$result"; echo "matrix: $windows, $prefix_name: $*"; }

# <windows>: CurrentVersion, build, service pack, major and minor number
# (from Windows 10 on), what Setup's classification answers (OsVersion value, and 1
# when supported).
case $windows in
    vista)       profile="6.0 6002 2 - - 5 0" ;;
    win7)        profile="6.1 7601 1 - - 7 1" ;;
    win8)        profile="6.2 9200 - - - 10 1" ;;
    win81)       profile="6.3 9600 - - - 11 1" ;;
    win10-10586) profile="6.3 10586 - 10 0 12 1" ;;
    win10-19045) profile="6.3 19045 - 10 0 13 1" ;;
    win10.1)     profile="6.3 22631 - 10 1 14 0" ;;
    *) echo "matrix-cell: unknown Windows $windows" >&2; exit 2 ;;
esac
read -r version winbuild sp major minor expected supported <<<"$profile"

nt='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion'
config='HKEY_CURRENT_USER\Software\Wine'
names="CurrentVersion CurrentBuild CurrentBuildNumber CSDVersion CurrentMajorVersionNumber CurrentMinorVersionNumber"

# The values as they are now, as a file that puts them back ("=-" for an absent one).
save_values() { # key names... -> .reg lines
    local key=$1 name line type data
    shift
    echo "[$key]"
    for name in "$@"; do
        line=$(wine_run reg query "$key" /v "$name" 2>/dev/null | tr -d '\r' | grep -E "^ +$name +REG_" | head -1)
        if [ -z "$line" ]; then echo "\"$name\"=-"; continue; fi
        read -r _ type data <<<"$line"
        case $type in
            REG_DWORD) printf '"%s"=dword:%08x\n' "$name" "$((data))" ;;
            *) data=${data//\\/\\\\}; echo "\"$name\"=\"${data//\"/\\\"}\"" ;;
        esac
    done
    echo
}
apply() { wine_run reg import "$(winpath "$1")" >/dev/null 2>&1; }

{
    printf 'REGEDIT4\n\n'
    save_values "$nt" $names
    save_values "$config" Version
} >"$work/restore.reg"
restore() { apply "$work/restore.reg"; rm -rf "$work"; }
trap restore EXIT

{
    printf 'REGEDIT4\n\n[%s]\n"Version"=-\n\n[%s]\n' "$config" "$nt"
    printf '"CurrentVersion"="%s"\n"CurrentBuild"="%s"\n"CurrentBuildNumber"="%s"\n' "$version" "$winbuild" "$winbuild"
    if [ "$sp" = - ]; then echo '"CSDVersion"=-'; else echo "\"CSDVersion\"=\"Service Pack $sp\""; fi
    if [ "$major" = - ]; then
        printf '"CurrentMajorVersionNumber"=-\n"CurrentMinorVersionNumber"=-\n'
    else
        printf '"CurrentMajorVersionNumber"=dword:%08x\n"CurrentMinorVersionNumber"=dword:%08x\n' "$major" "$minor"
    fi
} >"$work/cell.reg"
apply "$work/cell.reg" || { report "FAIL (the version values could not be written)"; exit 1; }

# tsrun prints the full exit code, which Wine does not hand to Linux.
full_code() { tr -d '\r' | sed -n 's/^exit code: \([0-9]*\) .*/\1/p' | tail -1; }

# The probe carries Setup's manifest, so it gets the answers Setup gets.
answer=$(wine_run "$build/bin/tsrun.exe" "$(winpath "$build/bin/tsosprobe-setup.exe")" | full_code)
got_version=$(( ${answer:-0} & 0xFF )) got_supported=$(( (${answer:-0} >> 8) & 1 ))
if [ "$got_version" != "$expected" ] || [ "$got_supported" != "$supported" ]; then
    report "FAIL (classified as $got_version, supported $got_supported; expected $expected, $supported)"
    exit 1
fi

start=$(date +%s)
if [ "$supported" = 0 ]; then
    log=$work/run.log
    code=$(wine_run "$build/bin/tsrun.exe" "$(winpath "$build/bin/Setup.exe")" -silent -mupLogFile "$(winpath "$log")" |
        full_code)
    if [ "$code" = 1633 ] && grep -q "cannot be installed on this operating system" "$log"; then
        report "refused, 1633"
        exit 0
    fi
    report "FAIL (exit ${code:-none}, not 1633; run log: $(tr '\r\n' '  ' <"$log" 2>/dev/null))"
    exit 1
fi

wine_run "$build/bin/ts_e2e.exe" --gtest_color=no "$@" | tee "$work/e2e.txt"
status=${PIPESTATUS[0]}
seconds=$(( $(date +%s) - start ))
passed=$(tr -d '\r' <"$work/e2e.txt" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}.*/\1/p')
skipped=$(tr -d '\r' <"$work/e2e.txt" | sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}.*/\1/p')
if [ "$status" = 0 ] && [ -n "$passed" ]; then
    report "pass ($passed tests${skipped:+, $skipped skipped}, ${seconds} s)"
    exit 0
fi
failed=$(tr -d '\r' <"$work/e2e.txt" | sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_./]*\)$/\1/p' | sort -u | tr '\n' ' ')
report "FAIL (exit $status${failed:+: $failed})"
exit 1
