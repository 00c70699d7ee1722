#!/usr/bin/env bash
# Makes the test code-signing certificates in <dir>: a test root and leaves whose
# subject common names the signature tests need. Never committed; made per build tree.
# What exists is kept, so a leaf added here joins a tree's certificates under its old root.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
cat > ext.cnf <<'CNF'
[root]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[leaf]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
if [ ! -f root.der ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 3650 \
        -subj "/O=Tessaline Test/CN=Tessaline Test Root" -extensions root -config <(cat /etc/ssl/openssl.cnf ext.cnf) 2>/dev/null
    openssl x509 -in root.pem -outform DER -out root.der
fi
leaf() { # file-stem common-name [organization]
    [ -f "$1.chain.pem" ] && return
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/O=${3:-Tessaline}/CN=$2" 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA root.pem -CAkey root.key -CAcreateserial -days 3650 \
        -extfile ext.cnf -extensions leaf -out "$1.pem" 2>/dev/null
    cat "$1.pem" root.pem > "$1.chain.pem"
    rm -f "$1.csr"
}
leaf test "TESSALINE (TEST CERTIFICATE)"
leaf trailing "TESSALINE "
leaf lower "Tessaline"
leaf other "Somebody Else"
# The driver installer program is signed by Microsoft, not by the maker.
leaf microsoft "Microsoft Windows" "Microsoft Corporation"
touch .done
