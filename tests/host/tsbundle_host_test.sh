#!/usr/bin/env bash
# tsbundle_host_test.sh <build-dir>: the host's bundler refuses broken product folders
# and signing set-ups with one line per problem and no output, builds well-formed,
# reproducible bundles with a correct checksum, the same as its Windows build under Wine,
# signs through a command, and ships the stub without debug information.
set -u
build=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
tsbundle=$build/host/tsbundle
objdump=i686-w64-mingw32-objdump
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The PE checksum field against the one computed over the file.
checksum_ok() {
    python3 - "$1" <<'EOF'
import struct, sys
b = open(sys.argv[1], "rb").read()
at = struct.unpack_from("<I", b, 0x3C)[0] + 24 + 64
data = b + b"\0" * (len(b) % 2)
s = 0
for i in range(0, len(data), 2):
    if at <= i < at + 4:
        continue
    s += data[i] | data[i + 1] << 8
    s = (s & 0xFFFF) + (s >> 16)
s = (s & 0xFFFF) + (s >> 16)
sys.exit(0 if s + len(b) == struct.unpack_from("<I", b, at)[0] else 1)
EOF
}

# Signed stand-ins: a program signed by the maker's test certificate and by others, and
# signed catalogs; make-catalog.py writes unsigned ones.
certs=$build/certs
signed() { # in out leaf
    "$here/tools/sign.sh" "$1" "$2" "$certs/$3.chain.pem" "$certs/$3.key"
}
signed "$build/bin/tsdpinst.exe" "$work/maker.exe" test
signed "$build/bin/tsdpinst.exe" "$work/other.exe" other
signed "$build/bin/tsdpinst.exe" "$work/trailing.exe" trailing
signed "$build/bin/tsdpinst.exe" "$work/microsoft.exe" microsoft
mkdir -p "$work/catalog"
printf 'inf\r\n' >"$work/catalog/TessalineUsb.inf"
"$here/tools/make-catalog.py" "$work/unsigned.cat" "$work/catalog"
signed "$work/unsigned.cat" "$work/maker.cat" test
signed "$work/unsigned.cat" "$work/other.cat" other

good() { # dir
    local dir=$1
    mkdir -p "$dir/payload/VELA/sub" "$dir/payload/DPINST32" "$dir/payload/DPINST64"
    printf '# comment\n0=Product\n6=Yes\n' >"$dir/strings.txt"
    printf '33=Schon aktuell\n' >"$dir/messages.7.txt"
    cp "$here/product/demo/layout.txt" "$dir/layout.txt"
    printf 'CoreVersion=7.9.1488.0\nProductVersion=2.1.40.0\nProductId={0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\n' \
        >"$dir/properties.txt"
    head -c 300000 /dev/urandom >"$dir/payload/VELA/TessalineData.bin"
    printf 'inf\r\n' >"$dir/payload/VELA/TessalineUsb.inf"
    printf 'nested\r\n' >"$dir/payload/VELA/sub/nested.txt"
    for f in payload/VELA/TessalineCore.dat payload/VELA/TessalineCore64.dat \
        payload/DPINST64/DpInst.exe ProductInstaller32.exe ProductInstaller64.exe; do
        cp "$work/maker.exe" "$dir/$f"
    done
    # The real DpInst.exe is Microsoft's.
    cp "$work/microsoft.exe" "$dir/payload/DPINST32/DpInst.exe"
    "$here/tools/make-catalog.py" "$dir.cat" "$dir/payload/VELA"
    signed "$dir.cat" "$dir/payload/VELA/sub/tessaline.cat" test
}
summary_ok() { # bundle signer-pattern stdout-file: the last line sums the bundle up
    sed -n '$p' "$3" | grep -qxE "tsbundle: built $1: $(stat -c %s "$1") bytes, payload [0-9]+ bytes, $2, SHA-256 $(sha256sum "$1" | cut -c1-64)"
}
test_signer='signed by "TESSALINE \(TEST CERTIFICATE\)"'

# Usage and exit codes.
"$tsbundle" --help | grep -q '^usage: tsbundle <product-folder> -o <Setup.exe>' || fail "--help"
"$tsbundle" >/dev/null 2>&1; [ $? = 2 ] || fail "no arguments: not exit 2"
"$tsbundle" "$work" -o "$work/x.exe" --frobnicate >/dev/null 2>&1; [ $? = 2 ] || fail "unknown option: not exit 2"
"$tsbundle" "$work" --sign-command 'true {file}' --timestamp http://ts >/dev/null 2>&1; [ $? = 2 ] ||
    fail "--timestamp with --sign-command: not exit 2"

# The shipped stub has no debug sections; its symbols are beside it, found by name.
stub=$build/unsigned/Setup.exe
! "$objdump" -h "$stub" | grep -q '\.debug_' || fail "the stub carries debug sections"
"$objdump" -h "$stub" | grep -q '\.gnu_debuglink' || fail "the stub has no debug link"
"$objdump" -h "$build/unsigned/Setup.dbg" | grep -q '\.debug_info' || fail "Setup.dbg has no debug information"

# A good folder: a well-formed, stripped bundle with a correct checksum, twice the same.
good "$work/good"
mkdir -p "$work/two"
"$tsbundle" "$work/good" -o "$work/one/Setup.exe" >"$work/out" 2>"$work/err" || fail "good folder: exit $?: $(cat "$work/err")"
summary_ok "$work/one/Setup.exe" unsigned "$work/out" || fail "unsigned summary: $(cat "$work/out")"
grep -q '^tsbundle: pack: .* with 7-Zip$' "$work/out" || fail "no pack phase: $(cat "$work/out")"
"$objdump" -p "$work/one/Setup.exe" >"$work/dump" 2>"$work/dumperr" || fail "objdump -p failed"
[ -s "$work/dumperr" ] && fail "objdump -p complains: $(cat "$work/dumperr")"
grep -q 'Resource Directory \[\.rsrc\]' "$work/dump" || fail "no resource directory"
! "$objdump" -h "$work/one/Setup.exe" | grep -q '\.debug_' || fail "the bundle carries debug sections"
checksum_ok "$work/one/Setup.exe" || fail "unsigned bundle: wrong checksum"
[ -f "$work/one/Setup.dbg" ] || fail "no Setup.dbg beside the bundle"
[ "$(ls "$work/one")" = "$(printf 'Setup.dbg\nSetup.exe')" ] || fail "left-overs: $(ls "$work/one")"

# Reproducible: a copy of the folder made at another time, in another order, with other
# file modes, gives the same bytes.
sleep 1
mkdir -p "$work/copy"
(cd "$work/good" && find . -type f | sort -r | while read -r f; do
    mkdir -p "$work/copy/$(dirname "$f")" && cp "$f" "$work/copy/$f"; done)
chmod 600 "$work/copy/payload/VELA/TessalineUsb.inf"
touch -d 2001-02-03 "$work/copy/payload/VELA/sub/nested.txt"
"$tsbundle" "$work/copy" -o "$work/two/Setup.exe" 2>"$work/err" || fail "copy: exit $?: $(cat "$work/err")"
cmp -s "$work/one/Setup.exe" "$work/two/Setup.exe" || fail "two builds of the same folder differ"

# The Windows build of the bundler writes the same bytes (a ready archive: no 7-Zip there).
cp -a "$work/good" "$work/ready"
(cd "$work/good/payload" && 7zz a -t7z -bd -bso0 -bsp0 "$work/ready/payload.7z" .)
"$tsbundle" "$work/ready" -o "$work/one/Host.exe" >/dev/null 2>"$work/err" || fail "ready archive: exit $?: $(cat "$work/err")"
"$here/tools/wine-run.sh" "$build/wine/win32" "$build/bin/tsbundle.exe" "Z:$work/ready" -o "Z:$work/win/Host.exe" \
    --stub "Z:$build/unsigned/Setup.exe" >"$work/out" 2>&1 || fail "tsbundle.exe: $(cat "$work/out")"
cmp -s "$work/one/Host.exe" "$work/win/Host.exe" || fail "the host and the Windows bundler differ"
# The symbols are named after the bundle, and its debug link says so.
[ -f "$work/one/Host.dbg" ] && "$objdump" -s -j .gnu_debuglink "$work/one/Host.exe" | grep -q 'Host\.dbg' ||
    fail "Host.exe: no Host.dbg named by its debug link"

# Signed after the resources, with the README's relative paths from the project root:
# still well-formed, checksum correct.
rel=$(realpath --relative-to="$here" "$build")
(cd "$here" && "$rel/host/tsbundle" "$work/good" -o "$work/one/Signed.exe" --sign "$rel/certs/test.chain.pem" \
    "$rel/certs/test.key") >"$work/out" 2>"$work/err" || fail "signing: exit $?: $(cat "$work/err")"
summary_ok "$work/one/Signed.exe" "$test_signer" "$work/out" || fail "signed summary: $(cat "$work/out")"
"$objdump" -p "$work/one/Signed.exe" 2>&1 >/dev/null | grep -q . && fail "objdump -p complains about the signed bundle"
"$objdump" -p "$work/one/Signed.exe" | grep -q '^Entry 4 [0-9a-f]*[1-9a-f][0-9a-f]* [0-9a-f]* Security Directory' ||
    fail "no signature"
checksum_ok "$work/one/Signed.exe" || fail "signed bundle: wrong checksum"

# A tool that fails: exit 2, and neither the bundle nor a stale one of an earlier run.
cp "$work/one/Setup.exe" "$work/two/Setup.exe"
TS_7Z=false "$tsbundle" "$work/good" -o "$work/two/Setup.exe" 2>"$work/err"
[ $? = 2 ] || fail "failing 7-Zip: not exit 2"
grep -q '^tsbundle: false failed with exit code 1$' "$work/err" || fail "failing 7-Zip: $(cat "$work/err")"
TS_7Z=$work/no-7zz "$tsbundle" "$work/good" -o "$work/two/Setup.exe" >/dev/null 2>"$work/err"
grep -q 'did not start: is 7-Zip installed? TS_7Z names its program$' "$work/err" || fail "missing 7-Zip: $(cat "$work/err")"
rm -f "$work/two/Setup.dbg"
[ -z "$(ls "$work/two")" ] || fail "failing 7-Zip left $(ls "$work/two")"

# Every problem of a broken folder, one line each, exit 1, no output.
b=$work/broken
good "$b"
rm -r "$b/ProductInstaller64.exe" "$b/payload"
printf '0=Product\n16=Too far\nnonsense\n' >"$b/strings.txt"
printf '38=Too far\n' >"$b/messages.7.txt"
printf '33=x\n' >"$b/messages.abc.txt"
printf '33=x\n' >"$b/messages.1024.txt"
printf 'CoreVersion=7.9.1488\nProductVersion=2.1.40.70000\nProductId=6A2E3C1B-5D4F-4B8A-9E21-7C3F0A1B2D44\n%s\n%s\n' \
    ProductVersoin=2.1.40.0 nonsense >"$b/properties.txt"
"$tsbundle" "$b" -o "$work/two/Setup.exe" >"$work/out" 2>"$work/err"
[ $? = 1 ] || fail "broken folder: not exit 1"
cat >"$work/expected" <<EOF
$b/ProductInstaller64.exe: is missing
$b/payload: folder is missing (or payload.7z)
$b/properties.txt:4: unknown key "ProductVersoin" (the keys are CoreVersion, ProductVersion, ProductId)
$b/properties.txt:5: not "<key>=<value>"
$b/properties.txt: CoreVersion "7.9.1488" is not a version a.b.c.d
$b/properties.txt: ProductVersion "2.1.40.70000" is not a version a.b.c.d
$b/properties.txt: ProductId "6A2E3C1B-5D4F-4B8A-9E21-7C3F0A1B2D44" is not a GUID {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
$b/strings.txt:2: ID 16 is outside 0-15
$b/strings.txt:3: not "<id>=<text>"
$b/messages.1024.txt: "1024" is not a language identifier (LANGID)
$b/messages.7.txt:1: ID 38 is outside 32-37
$b/messages.abc.txt: "abc" is not a language identifier (LANGID)
EOF
diff "$work/expected" "$work/err" || fail "broken folder: the lines above differ"
[ -z "$(ls "$work/two")" ] || fail "broken folder left $(ls "$work/two")"
"$tsbundle" "$b" --check 2>/dev/null; [ $? = 1 ] || fail "--check after the folder: not exit 1"
"$tsbundle" --check "$work/good" >/dev/null || fail "--check on a good folder"

# The layout as Setup's own parser reads it, what it names in the payload, and who signed
# what Setup runs or hands to Windows.
l=$work/layout
good "$l"
cat >"$l/layout.txt" <<'EOF'
DPINST x86 DPINST32\Missing.exe
DPINST x64 ..\outside.exe
DPINST X64 DPINST64\DpInst.exe
DRIVER "Tessaline Device" x86 * "VELA"
DRIVER "No catalog" x86 win7 "NOCAT"
DRIVER "Gone" x86 * "GONE"
DRIVER "Unknown Windows" x64 win11 "VELA"
DRIVER "Unclosed x64 * "VELA"
DRIVR "Typo" x86 * "VELA"
EOF
printf 'DRIVER\t"Tab" x86 * "VELA"\nDRIVER "Case" x86 Win10 "VELA"\n' >>"$l/layout.txt"
mkdir -p "$l/payload/NOCAT/sub"
printf 'inf\r\n' >"$l/payload/NOCAT/sub/nocat.inf"
printf 'installer32' >"$l/ProductInstaller32.exe"
cp "$work/other.exe" "$l/ProductInstaller64.exe"
cp "$work/maker.exe" "$l/CoreInstaller32.exe"
cp "$build/bin/tsdpinst.exe" "$l/CoreInstaller64.exe"
cp "$work/trailing.exe" "$l/payload/VELA/TessalineCore.dat"
rm "$l/payload/VELA/TessalineCore64.dat"
cp "$work/unsigned.cat" "$l/payload/VELA/sub/tessaline.cat"
cp "$work/other.cat" "$l/payload/VELA/other.CAT"
"$tsbundle" "$l" -o "$work/two/Setup.exe" >"$work/out" 2>"$work/err"
[ $? = 1 ] || fail "layout and signers: not exit 1"
tab=$(printf '\t')
windows='is none of * 2k xp vista server2008 win7 server2008R2 mps win8 win8_1 win10'
stale="is not in the driver folder's catalog (made before this file changed, or without it: make the catalog again)"
cat >"$work/expected" <<EOF
$l/layout.txt:3: platform "X64" is neither x86 nor x64: DPINST X64 DPINST64\DpInst.exe
$l/layout.txt:7: Windows "win11" $windows: DRIVER "Unknown Windows" x64 win11 "VELA"
$l/layout.txt:8: not DRIVER "<description>" <platform> <Windows> "<folder>" (5 fields; quotes must close): DRIVER "Unclosed x64 * "VELA"
$l/layout.txt:9: "DRIVR" is not a keyword (DRIVER or DPINST, in capitals): DRIVR "Typo" x86 * "VELA"
$l/layout.txt:10: a tab separates nothing (Setup splits a line at spaces only): DRIVER$tab"Tab" x86 * "VELA"
$l/layout.txt:11: Windows "Win10" $windows: DRIVER "Case" x86 Win10 "VELA"
$l/layout.txt: no DRIVER line for x64
$l/payload/VELA/TessalineCore64.dat: is missing: -stageDrivers and -extractAsDriver need both Core packages in VELA (CoreInstaller*.exe beside the folder do not count)
$l/payload/VELA/TessalineData.bin: $stale
$l/payload/VELA/sub/nested.txt: $stale
$l/payload/GONE: DRIVER folder of layout.txt is missing
$l/payload/NOCAT: driver folder has no catalog (*.cat)
$l/payload/DPINST32/Missing.exe: DPINST program of layout.txt is missing
$l/payload: DPINST program "..\\outside.exe" of layout.txt is not in the payload
$l/ProductInstaller32.exe: signature cannot be read
$l/ProductInstaller64.exe: is signed by "Somebody Else", not by the maker
$l/CoreInstaller64.exe: is not signed
$l/payload/VELA/TessalineCore.dat: is signed by "TESSALINE ", not by the maker
$l/payload/VELA/other.CAT: is signed by "Somebody Else", not by the maker
$l/payload/VELA/sub/tessaline.cat: is not signed
EOF
diff "$work/expected" "$work/err" || fail "layout and signers: the lines above differ"
[ -z "$(ls "$work/two")" ] || fail "layout and signers left $(ls "$work/two")"
# The Windows build reports the same lines.
# (wine-run.sh hands on both outputs as one.)
"$here/tools/wine-run.sh" "$build/wine/win32" "$build/bin/tsbundle.exe" "Z:$l" --check 2>&1 |
    tr -d '\r' | sed 's|^Z:||' >"$work/winerr"
diff "$work/err" "$work/winerr" || fail "tsbundle.exe reports other lines"

# No valid DPINST line and no DRIVER line at all.
printf 'REM nothing\nDPINST x86\nDRIVER x86 * "VELA"\n' >"$l/layout.txt"
"$tsbundle" --check "$l" 2>&1 | grep '^[^:]*layout.txt:' >"$work/err"
cat >"$work/expected" <<EOF
$l/layout.txt:2: not DPINST <platform> <program> (3 fields): DPINST x86
$l/layout.txt:3: not DRIVER "<description>" <platform> <Windows> "<folder>" (5 fields; quotes must close): DRIVER x86 * "VELA"
$l/layout.txt: no valid DPINST line for x86
$l/layout.txt: no DRIVER line for x86
$l/layout.txt: no valid DPINST line for x64
$l/layout.txt: no DRIVER line for x64
EOF
diff "$work/expected" "$work/err" || fail "empty layout: the lines above differ"

# Test bundles of a broken product: the problems are reported, the bundle is written.
"$tsbundle" "$l" -o "$work/two/Setup.exe" --allow-problems >"$work/out" 2>"$work/err" ||
    fail "--allow-problems: exit $?"
grep -q 'is not signed$' "$work/err" || fail "--allow-problems reported nothing"
[ -f "$work/two/Setup.exe" ] || fail "--allow-problems wrote no bundle"
# Broken copies of the good folder and the line each must produce, with no bundle.
while IFS='|' read -r name change expected; do
    t=$work/table
    rm -rf "$t" "$work/three" && cp -a "$work/good" "$t"
    (cd "$t" && eval "$change")
    "$tsbundle" "$t" -o "$work/three/Setup.exe" >/dev/null 2>"$work/err"
    [ $? = 1 ] && grep -qxF "$t/$expected" "$work/err" && [ -z "$(ls "$work/three")" ] ||
        fail "$name: $(cat "$work/err")"
done <<'EOF'
empty properties|: >properties.txt|properties.txt: ProductId= is missing
stale catalog|printf 'edited\r\n' >>payload/VELA/TessalineUsb.inf|payload/VELA/TessalineUsb.inf: is not in the driver folder's catalog (made before this file changed, or without it: make the catalog again)
DPINST program of another|cp ../other.exe payload/DPINST64/DpInst.exe|payload/DPINST64/DpInst.exe: is signed by "Somebody Else", not by the maker or Microsoft
EOF

# Signing set-ups that fail are found before anything is packed.
"$tsbundle" "$work/good" -o "$work/three/Setup.exe" --sign "$certs/other.chain.pem" "$certs/other.key" \
    >"$work/out" 2>"$work/err"
[ $? = 1 ] && grep -q "other.chain.pem, .*other.key: signs as \"Somebody Else\", not as the maker" "$work/err" ||
    fail "another's certificate: $(cat "$work/err")"
"$tsbundle" "$work/good" -o "$work/three/Setup.exe" --sign "$certs/test.chain.pem" "$certs/test.key" \
    --timestamp http://127.0.0.1:9/ --timestamp http://127.0.0.1:9/x >"$work/out" 2>/dev/null
[ $? = 1 ] || fail "unreachable time-stamp servers: not exit 1"
! grep -q 'pack:' "$work/out" && [ -z "$(ls "$work/three")" ] || fail "packed despite a failing signing set-up"

# The team's own signer through a command; a result not signed by the maker is refused and
# the unsigned bundle stays to be signed again without packing.
cat >"$work/signer.sh" <<'EOF'
#!/bin/sh
osslsigncode sign -certs "$1.chain.pem" -key "$1.key" -h sha256 -in "$2" -out "$2.signed" >/dev/null && mv "$2.signed" "$2"
EOF
chmod +x "$work/signer.sh"
c=$work/command
"$tsbundle" "$work/good" --sign-command "$work/signer.sh $certs/test {file}" -o "$c/Setup.exe" >"$work/out" 2>"$work/err" &&
    summary_ok "$c/Setup.exe" "$test_signer" "$work/out" || fail "--sign-command: $(cat "$work/err")"
"$tsbundle" "$work/good" --sign-command "$work/signer.sh $certs/other {file}" -o "$c/Setup.exe" >/dev/null 2>"$work/err"
[ $? = 2 ] && grep -q 'the signed bundle is signed by "Somebody Else", not by the maker' "$work/err" &&
    [ "$(ls "$c")" = "$(printf 'Setup.dbg\nSetup.exe.unsigned')" ] || fail "another's signature through the command: $(ls "$c")"
"$tsbundle" "$work/good" -o "$c/Setup.exe" >/dev/null 2>"$work/err" \
    --sign-command "$work/signer.sh $certs/test {file} && printf x | dd of={file} bs=1 seek=5000 conv=notrunc 2>/dev/null"
[ $? = 2 ] && grep -q 'its signature does not match it' "$work/err" || fail "a bundle changed after signing: $(cat "$work/err")"
"$tsbundle" --sign-only "$c/Setup.exe.unsigned" -o "$c/Setup.exe" --sign "$certs/test.chain.pem" "$certs/test.key" \
    >"$work/out" 2>"$work/err" && summary_ok "$c/Setup.exe" "$test_signer" "$work/out" && [ ! -e "$c/Setup.exe.unsigned" ] ||
    fail "--sign-only: $(cat "$work/err")"

# init writes a folder that passes once the installers and the driver package are in.
n=$work/new
"$tsbundle" init "$n" >/dev/null || fail "init"
for f in ProductInstaller32.exe ProductInstaller64.exe payload/VELA/TessalineCore.dat payload/VELA/TessalineCore64.dat \
    payload/DPINST64/DpInst.exe; do cp "$work/maker.exe" "$n/$f"; done
cp "$work/microsoft.exe" "$n/payload/DPINST32/DpInst.exe"
printf 'inf\r\n' >"$n/payload/VELA/TessalineUsb.inf"
"$here/tools/make-catalog.py" "$work/new.cat" "$n/payload/VELA"
signed "$work/new.cat" "$n/payload/VELA/tessaline.cat" test
"$tsbundle" "$n" --check >/dev/null || fail "init's folder with the installers added does not pass"
"$tsbundle" init "$n" 2>/dev/null && fail "init over a folder"
echo "tsbundle host test passed"
