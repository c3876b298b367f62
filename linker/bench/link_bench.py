#!/usr/bin/env python3
"""Benchmark of the linker: 500 generated modules with 20,000 symbols.

Each module has a text psect of 16 bytes, 40 global symbols of its own and a
16-bit reference to a symbol of the next module. Usage:
    link_bench.py <path of heron> [work directory]
Prints the time of one link; the link must end with status 0.
"""
import os
import struct
import subprocess
import sys
import tempfile
import time

MODULES = 500
SYMBOLS = 40          # per module: 500 * 40 = 20,000


def record(rtype, body):
    return struct.pack('<HB', len(body), rtype) + body


def name(text):
    return text.encode() + b'\0'


def module(k):
    out = record(7, bytes([0, 1, 2, 3, 0, 1]) + name('PIC14') + bytes([3, 4]))
    out += record(2, struct.pack('<H', 0x10) + name('text'))
    out += record(1, struct.pack('<I', 0) + name('text') + bytes(16))
    out += record(3, struct.pack('<HB', 0, 0x22) + name('s%d_0' % ((k + 1) % MODULES)))
    entries = b''
    for i in range(SYMBOLS):
        entry = struct.pack('<IH', i % 16, 0x10) + name('text') + name('s%d_%d' % (k, i))
        if len(entries) + len(entry) > 500:
            out += record(4, entries)
            entries = b''
        entries += entry
    entries += struct.pack('<IH', 0, 0x16) + name('') + name('s%d_0' % ((k + 1) % MODULES))
    out += record(4, entries)
    if k == 0:
        out += record(5, struct.pack('<I', 0) + name('text'))
    return out + record(6, b'\0\0')


def main():
    heron = os.path.abspath(sys.argv[1])
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp(prefix='heron_bench_')
    names = []
    for k in range(MODULES):
        path = os.path.join(work, 'm%d.obj' % k)
        with open(path, 'wb') as f:
            f.write(module(k))
        names.append(path)
    args = [heron, '-Ptext=0', '-H', '-o' + os.path.join(work, 'out.obj')] + names
    started = time.perf_counter()
    done = subprocess.run(args, cwd=work)
    elapsed = time.perf_counter() - started
    print('heron: %d modules, %d symbols: %.3f s, status %d' % (MODULES, MODULES * SYMBOLS, elapsed, done.returncode))
    return done.returncode


if __name__ == '__main__':
    sys.exit(main())
