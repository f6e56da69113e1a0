#!/usr/bin/env python3
"""Damages the Joliet tree of one session of a disc image in place, the way a failing disc or a faulty
program would, for the tests of the session import and the seeds of its fuzzer.

Usage: damage_session.py IMAGE SESSION_START CASE NAME [NEW_NAME]

IMAGE is a flat image (sector N at byte N * 2048), SESSION_START the session's first sector. NAME is the
Joliet name of the record (or, for the sector cases, of the directory) to damage: the first one met in a
breadth-first walk of the session's Joliet tree. CASE is one of:

  name-past-record  the identifier length runs past the end of the record
  zero-name-length  the identifier length is 0
  zero-sector       the directory's first sector reads as zeros
  garbage-sector    the directory's first sector reads as garbage
  dot-extent        the directory's "." record names another sector than its own
  rename            the identifier becomes NEW_NAME (same length), so that two names may meet
"""
import random
import struct
import sys

SECTOR = 2048


class Image:
    """The image's sectors, read and written one at a time (an image may be large and sparse)."""

    def __init__(self, path):
        self.f = open(path, 'r+b')

    def read(self, lba):
        self.f.seek(lba * SECTOR)
        return bytearray(self.f.read(SECTOR).ljust(SECTOR, b'\0'))

    def write(self, lba, data):
        self.f.seek(lba * SECTOR)
        self.f.write(bytes(data))


def joliet_root(img, start):
    for lba in range(start + 16, start + 37):
        d = img.read(lba)
        if d[1:6] != b'CD001':
            continue
        if d[0] == 0xFF:
            break
        if d[0] == 2 and d[88:90] == b'%/':
            return struct.unpack_from('<I', d, 158)[0], struct.unpack_from('<I', d, 166)[0]
    sys.exit('no Joliet descriptor in the session at %d' % start)


def records(img, extent, size):
    """(sector, offset, name, extent, size, is directory) of every record but "." and ".."."""
    for lba in range(extent, extent + (size + SECTOR - 1) // SECTOR):
        d = img.read(lba)
        at = 0
        while at < SECTOR - 33 and d[at] != 0:
            n = d[at + 32]
            ident = bytes(d[at + 33:at + 33 + n])
            if not (n == 1 and ident in (b'\0', b'\1')):
                name = ident.decode('utf-16-be', 'replace').split(';')[0]
                yield (lba, at, name, struct.unpack_from('<I', d, at + 2)[0],
                       struct.unpack_from('<I', d, at + 10)[0], bool(d[at + 25] & 2))
            at += d[at]


def find(img, start, name):
    queue = [joliet_root(img, start)]
    while queue:
        extent, size = queue.pop(0)
        for rec in records(img, extent, size):
            if rec[2] == name:
                return rec
            if rec[5]:
                queue.append((rec[3], rec[4]))
    sys.exit('no record named %r' % name)


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    path, start, case, name = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    img = Image(path)
    lba, at, _, extent, _, _ = find(img, start, name)
    d = img.read(lba)
    if case == 'name-past-record':
        d[at + 32] = (d[at] - 33 + 2) & ~1
    elif case == 'zero-name-length':
        d[at + 32] = 0
    elif case == 'rename':
        new = sys.argv[5].encode('utf-16-be')
        if len(new) > d[at + 32]:
            sys.exit('the new name must not be longer than the old one')
        d[at + 33:at + 33 + len(new)] = new
        d[at + 32] = len(new)
    elif case == 'zero-sector':
        lba, d = extent, bytes(SECTOR)
    elif case == 'garbage-sector':
        rng = random.Random(extent)
        lba, d = extent, bytes(rng.randrange(256) for _ in range(SECTOR))
    elif case == 'dot-extent':
        lba, d = extent, img.read(extent)
        struct.pack_into('<I', d, 2, extent + 1)
        struct.pack_into('>I', d, 6, extent + 1)
    else:
        sys.exit('unknown case %r' % case)
    img.write(lba, d)


if __name__ == '__main__':
    main()
