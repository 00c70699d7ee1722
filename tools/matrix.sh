#!/usr/bin/env bash
# matrix.sh <build-dir> [jobs]: runs the Windows matrix (the CTest tests labelled
# "matrix", one per Windows version and prefix; see tools/matrix-cell.sh) and prints a
# table of version x bitness x result. Exits 1 when a cell failed or gave no result.
set -u
build=$(cd "$1" && pwd) jobs=${2:-2}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$build/matrix"
start=$(date +%s)
"$here/run-tests.sh" "$build" "$jobs" -L '^matrix$' >"$build/matrix.log" 2>&1
status=$?
grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|^run-tests' "$build/matrix.log"
printf '\n%-32s %-34s %s\n' "Windows" "32-bit prefix" "64-bit prefix"
all_ok=1
for row in "vista:Windows Vista (6.0.6002)" "win7:Windows 7 (6.1.7601)" "win8:Windows 8 (6.2.9200)" \
    "win81:Windows 8.1 (6.3.9600)" "win10-10586:Windows 10 (10.0.10586)" \
    "win10-19045:Windows 10 (10.0.19045)" "win10.1:Windows 10.1 (10.1.22631)"; do
    windows=${row%%:*}
    line=$(printf '%-32s' "${row#*:}")
    for prefix in win32 win64; do
        cell=$(cat "$build/matrix/$windows-$prefix.result" 2>/dev/null || echo "FAIL (no result)")
        case $cell in FAIL*) all_ok=0 ;; esac
        line+=$(printf ' %-34s' "$cell")
    done
    echo "$line"
done
echo "matrix: $(( $(date +%s) - start )) s; CTest's output in $build/matrix.log"
[ $status = 0 ] && [ $all_ok = 1 ]
