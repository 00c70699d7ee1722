#!/usr/bin/env bash
# make-bundle.sh <product-folder> <out-Setup.exe>
#
# Turns a product folder into a signed Setup.exe. The folder holds:
#   strings.txt            product strings "<id>=<text>" (IDs 0-15; "#" lines are comments)
#   messages.<lang>.txt    optional user messages "<id>=<text>" (IDs 32-37) for language <lang>
#   layout.txt             the driver layout text (stored as UTF-16LE with a byte-order mark)
#   properties.txt         CoreVersion=, ProductVersion= (dotted) and ProductId= ({GUID});
#                          a properties.bin instead is taken as the record itself
#   payload/               VELA\, DPINST32\, DPINST64\: archived with 7zz, solid blocks <= 64 MB
#                          (a payload.7z instead is embedded as it is)
#   ProductInstaller32.exe, ProductInstaller64.exe
#   optional: CoreInstaller32.exe, CoreInstaller64.exe (win over the archive's Core
#             package), branding.dat, banner.dat
# Environment: BUILD (build tree with unsigned/Setup.exe, bin/tsresedit.exe and the Wine
# prefixes; default ./build), TS_CERTS (test certificates; default $BUILD/certs) or the
# release certificate of tools/sign.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
product=$(cd "$1" && pwd)
out=$2
build=$(cd "${BUILD:-$here/../build}" && pwd)
export TS_CERTS=${TS_CERTS:-$build/certs}

work=$(mktemp -d "${TMPDIR:-/tmp}/tsbundle.XXXXXX")
trap 'rm -rf "$work"' EXIT

for f in strings.txt layout.txt ProductInstaller32.exe ProductInstaller64.exe; do
    [ -e "$product/$f" ] || { echo "make-bundle: $product/$f is missing" >&2; exit 1; }
done
[ -d "$product/payload" ] || [ -f "$product/payload.7z" ] ||
    { echo "make-bundle: $product/payload is missing" >&2; exit 1; }

# String table blocks, the layout text and the extended-properties record.
python3 - "$product" "$work" <<'EOF'
import glob, os, re, struct, sys, uuid
product, work = sys.argv[1:3]

def entries(path):
    out = {}
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\r\n")
        if not line or line.startswith("#"):
            continue
        key, _, value = line.partition("=")
        out[int(key)] = value
    return out

def block(strings, first):
    data = b""
    for i in range(first, first + 16):
        text = strings.get(i, "").encode("utf-16-le")
        data += struct.pack("<H", len(text) // 2) + text
    return data

strings = entries(os.path.join(product, "strings.txt"))
if any(not 0 <= k <= 15 for k in strings):
    sys.exit("make-bundle: product strings use IDs 0-15")
open(os.path.join(work, "strings.bin"), "wb").write(block(strings, 0))
for path in glob.glob(os.path.join(product, "messages.*.txt")):
    lang = int(re.search(r"messages\.(\d+)\.txt$", path).group(1))
    messages = entries(path)
    if any(not 32 <= k <= 47 for k in messages):
        sys.exit("make-bundle: messages use IDs 32-47")
    open(os.path.join(work, "messages.%d.bin" % lang), "wb").write(block(messages, 32))

text = open(os.path.join(product, "layout.txt"), encoding="utf-8").read()
text = text.replace("\r\n", "\n").replace("\n", "\r\n")
open(os.path.join(work, "layout.bin"), "wb").write("\ufeff".encode("utf-16-le") + text.encode("utf-16-le"))

if os.path.exists(os.path.join(product, "properties.bin")):
    open(os.path.join(work, "properties.bin"), "wb").write(open(os.path.join(product, "properties.bin"), "rb").read())
    sys.exit(0)
props = {}
for line in open(os.path.join(product, "properties.txt"), encoding="utf-8"):
    line = line.strip()
    if line and not line.startswith("#"):
        key, _, value = line.partition("=")
        props[key.strip()] = value.strip()

def version(text):
    parts = [int(p) for p in re.split(r"\.|, ", text)]
    if len(parts) != 4 or any(not 0 <= p <= 0xFFFF for p in parts):
        sys.exit("make-bundle: bad version " + text)
    return parts[0] << 48 | parts[1] << 32 | parts[2] << 16 | parts[3]

core = props.get("CoreVersion", "")
prod = props.get("ProductVersion", "")
ident = uuid.UUID(props.get("ProductId", "{00000000-0000-0000-0000-000000000000}"))
record = struct.pack("<BQQ", 1, version(prod) if prod else 0, version(core) if core else 0)
record += struct.pack("<BQ", 1 if core else 0, version(core) if core else 0)
record += struct.pack("<BQ", 1 if prod else 0, version(prod) if prod else 0)
record += ident.bytes_le + struct.pack("<II", 0, 59)
assert len(record) == 59
open(os.path.join(work, "properties.bin"), "wb").write(record)
EOF

# The payload archive: LZMA2, solid blocks of at most 64 MB.
if [ -f "$product/payload.7z" ]; then
    cp "$product/payload.7z" "$work/payload.7z"
else
    (cd "$product/payload" && 7zz a -t7z -m0=lzma2 -mx=7 -ms=64m -bd -bso0 -bsp0 "$work/payload.7z" .)
fi

resources=(6 1 0 strings.bin 10 1 0 properties.bin EXE 3 0 layout.bin EXE 4 0 payload.7z
           EXE 1 0 ProductInstaller32.exe EXE 2 0 ProductInstaller64.exe)
cp "$product/ProductInstaller32.exe" "$product/ProductInstaller64.exe" "$work/"
for m in "$work"/messages.*.bin; do
    [ -e "$m" ] || continue
    lang=${m##*/messages.}; lang=${lang%.bin}
    resources+=(6 3 "$lang" "${m##*/}")
done
for pair in 5:CoreInstaller32.exe 6:CoreInstaller64.exe 7:branding.dat 8:banner.dat; do
    id=${pair%%:*} file=${pair#*:}
    if [ -e "$product/$file" ]; then
        cp "$product/$file" "$work/"
        resources+=(EXE "$id" 0 "$file")
    fi
done

cp "$build/unsigned/Setup.exe" "$work/Setup.exe"
args=()
for ((i = 0; i < ${#resources[@]}; i += 4)); do
    args+=("${resources[i]}" "${resources[i+1]}" "${resources[i+2]}" "Z:$work/${resources[i+3]}")
done
(cd "$work" && "$here/wine-run.sh" "$build/wine/win32" "$build/bin/tsresedit.exe" "Z:$work/Setup.exe" "${args[@]}")
"$here/sign.sh" "$work/Setup.exe" "$out"
echo "make-bundle: $out"
