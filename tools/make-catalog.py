#!/usr/bin/env python3
"""make-catalog.py [--damage-signature|--damage-list] <out.cat> <folder> | <signed.cat> <out.cat>

Without an option: writes the driver catalog of every file below <folder> (".cat" files
left out) to <out.cat>, unsigned; tools/sign.sh then signs it. The catalog is a PKCS#7
SignedData whose content is a certificate trust list (szOID_CTL) of the files' SHA-1
hashes. The list is embedded as the content itself, not wrapped in an OCTET STRING:
WinVerifyTrust reads a wrapped list as a bad encoding (0x8009310B).

With --damage-signature or --damage-list: copies a signed catalog and changes one byte
of its signature value, or of the first member hash inside the signed list.
"""
import hashlib
import os
import sys
import time

SIGNED_DATA = "1.2.840.113549.1.7.2"
CTL = "1.3.6.1.4.1.311.10.1"
CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"
CATALOG_LIST_MEMBER = "1.3.6.1.4.1.311.12.1.2"
CAT_NAMEVALUE = "1.3.6.1.4.1.311.12.2.1"
CAT_MEMBERINFO = "1.3.6.1.4.1.311.12.2.2"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
SPC_CAB_DATA = "1.3.6.1.4.1.311.2.1.25"
SHA1 = "1.3.14.3.2.26"
FLAT_FILE_SUBJECT = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}"


def length(n, long_form=False):
    if n < 0x80 and not long_form:
        return bytes([n])
    body = n.to_bytes(max(2 if long_form else 1, (n.bit_length() + 7) // 8), "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, content, long_form=False):
    return bytes([tag]) + length(len(content), long_form) + content


def seq(*items, long_form=False):
    return tlv(0x30, b"".join(items), long_form)


def set_of(*items):
    return tlv(0x31, b"".join(sorted(items)))


def oid(text):
    parts = [int(p) for p in text.split(".")]
    out = bytes([parts[0] * 40 + parts[1]])
    for p in parts[2:]:
        chunk = [p & 0x7F]
        p >>= 7
        while p:
            chunk.insert(0, 0x80 | (p & 0x7F))
            p >>= 7
        out += bytes(chunk)
    return tlv(0x06, out)


def integer(n):
    return tlv(0x02, n.to_bytes(max(1, (n.bit_length() + 8) // 8), "big"))


def octets(data):
    return tlv(0x04, data)


def bmp(text):
    return tlv(0x1E, text.encode("utf-16-be"))


def explicit(number, content):
    return tlv(0xA0 + number, content)


NULL = b"\x05\x00"


def member(digest):
    tag = digest.hex().upper().encode("utf-16-le")
    info = seq(oid(CAT_MEMBERINFO), set_of(seq(bmp(FLAT_FILE_SUBJECT), integer(512))))
    # SpcIndirectDataContent: a flat file (SpcLink file "") and its SHA-1 digest.
    indirect = seq(seq(oid(SPC_CAB_DATA), b"\xa2\x02\x80\x00"), seq(seq(oid(SHA1), NULL), octets(digest)))
    data = seq(oid(SPC_INDIRECT_DATA), set_of(indirect))
    return seq(octets(tag), set_of(info, data))


def name_value(name, value):
    text = (value + "\0").encode("utf-16-le")
    return seq(oid(CAT_NAMEVALUE), octets(seq(bmp(name), integer(0x10010001), octets(text))))


def catalog(folder):
    digests = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            if name.lower().endswith(".cat"):
                continue
            with open(os.path.join(root, name), "rb") as f:
                digests.append(hashlib.sha1(f.read()).digest())
    digests.sort()
    stamp = time.gmtime(int(os.environ.get("SOURCE_DATE_EPOCH", time.time())))
    ctl = seq(
        seq(oid(CATALOG_LIST)),
        octets(hashlib.md5(b"".join(digests)).digest()),
        tlv(0x17, time.strftime("%y%m%d%H%M%SZ", stamp).encode()),
        seq(oid(CATALOG_LIST_MEMBER), NULL),
        seq(*[member(d) for d in digests]),
        explicit(0, seq(name_value("OSAttr", "2:6.1,2:6.2,2:6.3,2:10.0"))),
    )
    signed = seq(integer(1), set_of(), seq(oid(CTL), explicit(0, ctl)), set_of())
    # osslsigncode finds the content type of a catalog after a two- or three-byte length.
    return seq(oid(SIGNED_DATA), explicit(0, signed), long_form=True)


def damage(source, out, what):
    data = bytearray(open(source, "rb").read())
    if what == "--damage-signature":
        # The signer's signature value ends the file (no unsigned attributes).
        at = len(data) - 8
    else:
        # The first member tag: the hex text of a hash, as UTF-16.
        marker = oid(CAT_MEMBERINFO)
        at = data.find(marker)
        if at < 0:
            sys.exit("make-catalog: no member in " + source)
        at = data.rfind(b"\x04\x50", 0, at) + 2  # OCTET STRING of 40 UTF-16 characters
    data[at] ^= 0x01
    open(out, "wb").write(data)


def main(args):
    if args and args[0].startswith("--damage"):
        damage(args[1], args[2], args[0])
        return
    if len(args) != 2 or not os.path.isdir(args[1]):
        sys.exit(__doc__)
    open(args[0], "wb").write(catalog(args[1]))


if __name__ == "__main__":
    main(sys.argv[1:])
