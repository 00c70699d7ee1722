#!/usr/bin/env python3
"""build-msi.py <source.wxs> <out.msi>: builds a Windows Installer package with wixl,
byte for byte the same on every build.

wixl stamps each package with a random package code and the current time, and its
cabinet carries the payload files' modification times. The payload (the folder of the
.wxs) is copied with a fixed time, and the summary information gets a package code
derived from the sources and a fixed time. Windows Installer tells cached packages
apart by their package code, so a changed source gives a new code. A source whose name
ends in "-x64" becomes a 64-bit package."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

FIXED_TIME = 1262304000  # 2010-01-01, also the cabinet's file date
NAMESPACE = uuid.UUID('6d1f3c52-94a8-4e0b-8c1e-5a7b2f4d9e10')


def sources_digest(folder, wxs):
    digest = hashlib.sha256()
    digest.update(open(wxs, 'rb').read())
    for root, dirs, files in sorted(os.walk(folder)):
        dirs.sort()
        for name in sorted(files):
            if name.endswith('.wxs') or name.endswith('.md'):
                continue
            path = os.path.join(root, name)
            digest.update(os.path.relpath(path, folder).encode())
            digest.update(open(path, 'rb').read())
    return digest.hexdigest()


class CompoundFile:
    """Just enough of the compound file format to rewrite bytes of one stream in place."""

    def __init__(self, data):
        self.data = data
        if data[:8] != bytes.fromhex('d0cf11e0a1b11ae1'):
            raise ValueError('not a compound file')
        self.sector_size = 1 << struct.unpack_from('<H', data, 0x1e)[0]
        self.mini_size = 1 << struct.unpack_from('<H', data, 0x20)[0]
        self.mini_cutoff = struct.unpack_from('<I', data, 0x38)[0]
        dir_start, = struct.unpack_from('<I', data, 0x30)
        minifat_start, = struct.unpack_from('<I', data, 0x3c)
        difat_start, difat_count = struct.unpack_from('<II', data, 0x44)
        fat_sectors = [s for s in struct.unpack_from('<109I', data, 0x4c) if s < 0xFFFFFFFA]
        next_difat = difat_start
        for _ in range(difat_count):
            entries = struct.unpack_from('<%dI' % (self.sector_size // 4), data, self.offset(next_difat))
            fat_sectors += [s for s in entries[:-1] if s < 0xFFFFFFFA]
            next_difat = entries[-1]
        self.fat = []
        for s in fat_sectors:
            self.fat += struct.unpack_from('<%dI' % (self.sector_size // 4), data, self.offset(s))
        self.minifat = []
        for s in self.chain(minifat_start):
            self.minifat += struct.unpack_from('<%dI' % (self.sector_size // 4), data, self.offset(s))
        self.entries = []
        for s in self.chain(dir_start):
            for i in range(self.sector_size // 128):
                at = self.offset(s) + i * 128
                length, = struct.unpack_from('<H', data, at + 0x40)
                name = data[at:at + max(length - 2, 0)].decode('utf-16-le')
                start, size = struct.unpack_from('<II', data, at + 0x74)
                self.entries.append((name, start, size))
        root = self.entries[0]
        self.mini_stream = [self.offset(s) + i for s in self.chain(root[1]) for i in range(self.sector_size)]

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, start, table=None):
        table = self.fat if table is None else table
        sectors = []
        while start < 0xFFFFFFFA:
            sectors.append(start)
            start = table[start]
        return sectors

    def stream_offsets(self, name):
        """File offset of every byte of the stream."""
        for entry_name, start, size in self.entries:
            if entry_name != name:
                continue
            if size < self.mini_cutoff:
                offsets = [self.mini_stream[s * self.mini_size + i]
                           for s in self.chain(start, self.minifat) for i in range(self.mini_size)]
            else:
                offsets = [self.offset(s) + i for s in self.chain(start) for i in range(self.sector_size)]
            return offsets[:size]
        raise KeyError(name)


def stamp_summary(data, package_code, filetime):
    compound = CompoundFile(data)
    offsets = compound.stream_offsets('\x05SummaryInformation')
    stream = bytearray(data[o] for o in offsets)
    section_offset, = struct.unpack_from('<I', stream, 0x2c)
    count, = struct.unpack_from('<I', stream, section_offset + 4)
    for i in range(count):
        pid, at = struct.unpack_from('<II', stream, section_offset + 8 + i * 8)
        at += section_offset
        kind, = struct.unpack_from('<I', stream, at)
        if pid == 9 and kind == 0x1e:  # revision number: the package code
            length, = struct.unpack_from('<I', stream, at + 4)
            text = package_code.encode('ascii') + b'\0'
            if length != len(text):
                raise ValueError('unexpected package code length %d' % length)
            stream[at + 8:at + 8 + length] = text
        elif pid in (12, 13) and kind == 0x40:  # created, last saved
            struct.pack_into('<Q', stream, at + 4, filetime)
    for o, b in zip(offsets, stream):
        data[o] = b


def main():
    wxs, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    folder = os.path.dirname(wxs)
    digest = sources_digest(folder, wxs)
    package_code = '{%s}' % str(uuid.uuid5(NAMESPACE, digest)).upper()
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, 'src')
        shutil.copytree(folder, copy)
        for root, dirs, files in os.walk(copy):
            for name in files + dirs:
                os.utime(os.path.join(root, name), (FIXED_TIME, FIXED_TIME))
        built = os.path.join(work, 'out.msi')
        # A name ending in "-x64" is a 64-bit package.
        arch = ['-a', 'x64'] if os.path.splitext(os.path.basename(wxs))[0].endswith('-x64') else []
        subprocess.run(['wixl'] + arch + ['-o', built, os.path.basename(wxs)], cwd=copy, check=True,
                       env=dict(os.environ, TZ='UTC'))
        data = bytearray(open(built, 'rb').read())
    stamp_summary(data, package_code, (FIXED_TIME + 11644473600) * 10000000)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out + '.tmp', 'wb') as f:
        f.write(data)
    os.replace(out + '.tmp', out)


if __name__ == '__main__':
    main()
