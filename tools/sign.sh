#!/usr/bin/env bash
# sign.sh <in> <out> [cert-chain.pem key.pem]
# Signs a PE file or catalog with osslsigncode. Without a certificate it uses the
# release certificate named by TS_SIGN_PFX (with TS_SIGN_PASS), else the test one.
set -euo pipefail
in=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
tmp="$out.signing"
rm -f "$tmp"
if [ $# -ge 4 ]; then
    osslsigncode sign -certs "$3" -key "$4" -h sha256 -in "$in" -out "$tmp" >/dev/null
elif [ -n "${TS_SIGN_PFX:-}" ]; then
    osslsigncode sign -pkcs12 "$TS_SIGN_PFX" ${TS_SIGN_PASS:+-pass "$TS_SIGN_PASS"} -h sha256 \
        ${TS_SIGN_TIMESTAMP:+-ts "$TS_SIGN_TIMESTAMP"} -in "$in" -out "$tmp" >/dev/null
else
    certs=${TS_CERTS:?TS_CERTS names the test certificate folder}
    osslsigncode sign -certs "$certs/test.chain.pem" -key "$certs/test.key" -h sha256 -in "$in" -out "$tmp" >/dev/null
fi
mv "$tmp" "$out"
