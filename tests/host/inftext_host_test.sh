#!/bin/sh
# inftext_host_test.sh <build-dir>: the INF line rules build with the host's compiler (a
# fuzzing target links them there; the host build makes tsinftext of them) and read
# arbitrary bytes without failing.
set -u
build=${1:?usage: inftext_host_test.sh <build dir>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

probe=$build/host/tsinftext
[ -x "$probe" ] || fail "the INF line rules do not build for the host: no $probe"

printf '[Version]\r\nProvider=%%Mfg%%\r\nDriverVer = 10/15/2014, 7.4.50415.0 \r\nAddService=tsusbvid\r\n[Strings]\r\nMfg="Tessaline"\r\n' > "$work/good.inf"
head -c 65536 /dev/urandom > "$work/random.inf"
out=$("$probe" "$work/good.inf" "$work/random.inf") || fail "reading failed: $out"
[ "$(echo "$out" | head -n 1)" = "1 0 12 7.4.50415.0" ] || fail "unexpected reading of good.inf: $out"
echo "INF line rules on the host: ok"
