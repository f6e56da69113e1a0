#!/usr/bin/python3
"""Reads one session of a flat disc image (LBA N at byte N*2048) with pycdlib and compares its Joliet
tree with a folder, file by file: the same names, the same folders, the same bytes.

    readback.py IMAGE SESSION_LBA EXPECTED_FOLDER

pycdlib always starts at sector 16, so a later session is shown to it through a view in which sectors
16.. hold that session's volume descriptors; every address in them is absolute, so the rest reads as is.
Exit status 0 when the trees are equal; 1 with the differences listed otherwise."""
import hashlib
import io
import os
import sys

import pycdlib

SECTOR = 2048


class SessionView(io.RawIOBase):
    def __init__(self, path, lba):
        self.fh = open(path, 'rb')
        self.shift = lba * SECTOR
        self.lo = 16 * SECTOR
        self.hi = (16 + self._descriptor_count()) * SECTOR
        self.pos = 0

    def _descriptor_count(self):
        for n in range(64):
            self.fh.seek(self.shift + (16 + n) * SECTOR)
            head = self.fh.read(7)
            if len(head) < 7 or head[1:6] != b'CD001':
                raise SystemExit('readback: no volume descriptor set at LBA %d' % (self.shift // SECTOR + 16))
            if head[0] == 255:
                return n + 1
        raise SystemExit('readback: no descriptor set terminator')

    def readable(self):
        return True

    def seekable(self):
        return True

    def seek(self, offset, whence=0):
        if whence == 0:
            self.pos = offset
        elif whence == 1:
            self.pos += offset
        else:
            self.pos = os.fstat(self.fh.fileno()).st_size + offset
        return self.pos

    def tell(self):
        return self.pos

    def readinto(self, buffer):
        want, got = len(buffer), 0
        while got < want:
            inside = self.lo <= self.pos < self.hi
            limit = self.hi if inside else (self.lo if self.pos < self.lo else None)
            n = want - got if limit is None else min(want - got, limit - self.pos)
            self.fh.seek(self.pos + (self.shift if inside else 0))
            data = self.fh.read(n)
            buffer[got:got + len(data)] = data
            got += len(data)
            self.pos += len(data)
            if len(data) < n:
                break
        return got

    def close(self):
        self.fh.close()
        super().close()


def digest_stream(iso, path):
    out = io.BytesIO()
    iso.get_file_from_iso_fp(out, joliet_path=path)
    return hashlib.sha256(out.getvalue()).hexdigest()


def digest_file(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


def disc_tree(image, lba):
    raw = SessionView(image, lba) if lba else open(image, 'rb')
    iso = pycdlib.PyCdlib()
    iso.open_fp(io.BufferedReader(raw, 1 << 20) if lba else raw)
    if iso.joliet_vd is None:
        raise SystemExit('readback: the session has no Joliet tree')
    tree = {}
    for top, dirs, files in iso.walk(joliet_path='/'):
        for d in dirs:
            tree[(top.rstrip('/') + '/' + d)[1:]] = 'dir'
        for f in files:
            name = f[:-2] if f.endswith(';1') else f
            tree[(top.rstrip('/') + '/' + name)[1:]] = digest_stream(iso, top.rstrip('/') + '/' + f)
    iso.close()
    return tree


def folder_tree(root):
    tree = {}
    for top, dirs, files in os.walk(root):
        rel = os.path.relpath(top, root)
        for d in dirs:
            tree[os.path.normpath(os.path.join(rel, d))] = 'dir'
        for f in files:
            tree[os.path.normpath(os.path.join(rel, f))] = digest_file(os.path.join(top, f))
    return tree


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    image, lba, expected = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    disc, want = disc_tree(image, lba), folder_tree(expected)
    problems = []
    for path in sorted(set(disc) | set(want)):
        if path not in disc:
            problems.append('missing on the disc: ' + path)
        elif path not in want:
            problems.append('not expected on the disc: ' + path)
        elif disc[path] != want[path]:
            problems.append('different: ' + path)
    for p in problems:
        print('readback: ' + p)
    if problems:
        sys.exit(1)
    print('readback: pycdlib reads %d entries of the session at LBA %d as expected' % (len(disc), lba))


if __name__ == '__main__':
    main()
