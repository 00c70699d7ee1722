#!/usr/bin/env python3
"""tamper.py <in> <out>: copies a signed PE file and changes one byte that the
signature covers but the program does not depend on (a letter of the version
resource's copyright text, else a byte in the middle of the file)."""
import sys

data = bytearray(open(sys.argv[1], 'rb').read())
marker = 'Copyright'.encode('utf-16-le')
at = data.find(marker)
at = at if at >= 0 else len(data) // 2
data[at] ^= 0x20
open(sys.argv[2], 'wb').write(data)
