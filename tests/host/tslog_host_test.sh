#!/usr/bin/env bash
# tslog_host_test.sh <build-dir>: the host's tslog reads files that the real logger
# wrote under Wine: a restarted file pair, and a file with a corrupted line in the middle.
set -u
build=$1
prefix=$build/wine/win32
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$here/tools/wine-run.sh" "$prefix" "$build/bin/tslogwriter.exe" "Z:${work//\//\\}" 3000 || fail "tslogwriter"
[ -s "$work/TSLW.log" ] && [ -s "$work/TSLW.old.log" ] || fail "no restarted log pair in $work: $(ls "$work")"

tslog=$build/host/tslog
"$tslog" "$work/TSLW.old.log" "$work/TSLW.log" >"$work/out.txt" 2>"$work/err.txt" || fail "exit $? on intact files: $(cat "$work/err.txt")"
[ "$(wc -l <"$work/out.txt")" = "$(cat "$work/TSLW.old.log" "$work/TSLW.log" | wc -l)" ] || fail "line count"
head -1 "$work/TSLW.log" | "$tslog" | grep -q "	ALWAYS	.*Version 7\.9\.1488\.0\. .*Log file restarted at " || fail "restart banner"
grep -q "	Writer	bench	INFO	tslogwriter.cpp:[0-9]*	line 2999 of 3000: the quick brown fox" "$work/out.txt" || fail "last line"
if grep -v -P '^\d\d:\d\d:\d\d\.\d\d\d\t' "$work/out.txt" | grep -q .; then fail "a line not in the full form"; fi

# Corrupt line 10 of the current file: the reader names it and goes on.
sed -i '10s/^..../!!!!/' "$work/TSLW.log"
"$tslog" "$work/TSLW.log" >"$work/out2.txt" 2>"$work/err2.txt"
[ $? = 1 ] || fail "exit code on a corrupted file"
grep -q "TSLW.log:10: cannot decode this line" "$work/err2.txt" || fail "corrupted line not named: $(cat "$work/err2.txt")"
[ "$(sed -n 10p "$work/out2.txt")" = "<<tslog: line 10 not decoded>>" ] || fail "marker line"
[ "$(wc -l <"$work/out2.txt")" = "$(wc -l <"$work/TSLW.log")" ] || fail "lines after the corruption lost"
tail -1 "$work/out2.txt" | grep -q "line 2999 of 3000" || fail "did not go on past the corruption"

# Standard input works as well.
"$tslog" <"$work/TSLW.old.log" | head -1 | grep -q "	ALWAYS	" || fail "standard input"
echo "tslog host test passed"
