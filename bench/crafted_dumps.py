#!/usr/bin/env python3
"""Times -from and -since on saved scans made to defeat the reader's lookups, each beside an
ordinary saved scan of the same size, and prints the ratio (at most 3 is the mark).

- inodes: 320,000 names of files with several names whose inode numbers all fall on the same
  place of a plain multiplicative hash, beside the same with random inode numbers;
- devices: 80,000 directories each on a device of its own (below an outermost directory that
  names none), 320,000 names of files with several names, beside the same on one device;
- duplicates: 80,000 directories of one name, compared with themselves (-since), beside
  80,000 names of their own;
- gone: a tree of one directory compared with a saved scan of 80,000 directories, all gone
  since, beside the 80,000 compared with themselves.

Usage: crafted_dumps.py --quorvel PROGRAM --dir FOLDER [--runs N]
"""
import argparse
import os
import random
import statistics
import subprocess
import sys
import time

# The multiplier of a Fibonacci hash: inode numbers that are multiples of its inverse modulo
# 2^64 all hash to the lowest places.
FIBONACCI = 0x9E3779B97F4A7C15
INVERSE = pow(FIBONACCI, -1, 1 << 64)
HEAD = '[1,2,{"progname":"crafted","timestamp":1700000000},\n'


def write(path, parts):
    with open(path, "w") as f:
        f.write(HEAD)
        f.writelines(parts)
        f.write("]]\n")


def linked_files(inodes):
    for i, ino in enumerate(inodes):
        yield ',\n{"name":"f%d","asize":100,"dsize":4096,"ino":%d,"hlnkc":true,"nlink":2}' % (
            i, ino)


def inode_dump(path, crafted):
    rng = random.Random(1)
    parts = ['[{"name":"/crafted","dev":1}']
    n = 0
    for d in range(1000):
        inodes = []
        for _ in range(320):
            n += 1
            inodes.append((n * INVERSE) % (1 << 64) if crafted else rng.getrandbits(63) + 1)
        parts.append(',\n[{"name":"d%d"}' % d)
        parts.extend(linked_files(inodes))
        parts.append("]")
    write(path, parts)


def device_dump(path, crafted):
    parts = ['[{"name":"/crafted"%s}' % ("" if crafted else ',"dev":1')]
    for d in range(80000):
        parts.append(',\n[{"name":"d%d"%s}' % (d, ',"dev":%d' % (d + 2) if crafted else ""))
        parts.extend(linked_files(range(d * 4 + 1, d * 4 + 5)))
        parts.append("]")
    write(path, parts)


def named_dump(path, count, same_name):
    parts = ['[{"name":"/crafted","dev":1}']
    for d in range(count):
        name = "d" if same_name else "d%d" % d
        parts.append(',\n[{"name":"%s"},{"name":"f","asize":100,"dsize":4096}]' % name)
    write(path, parts)


def timed(argv, runs):
    times = []
    for _ in range(runs):
        start = time.monotonic()
        p = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        times.append(time.monotonic() - start)
        if p.returncode != 0:
            sys.exit("%s failed: %s" % (" ".join(argv), p.stderr.decode(errors="replace")))
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quorvel", required=True)
    ap.add_argument("--dir", required=True, help="folder for the dumps")
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    d = lambda name: os.path.join(args.dir, name + ".json")
    inode_dump(d("inodes-crafted"), True)
    inode_dump(d("inodes-plain"), False)
    device_dump(d("devices-crafted"), True)
    device_dump(d("devices-plain"), False)
    named_dump(d("names-crafted"), 80000, True)
    named_dump(d("names-plain"), 80000, False)
    named_dump(d("one"), 1, False)
    q = [args.quorvel, "-csv"]
    cases = [
        ("320,000 names, colliding inode numbers (-from)",
         q + ["-from=" + d("inodes-crafted")], q + ["-from=" + d("inodes-plain")]),
        ("80,000 directories, a device each (-from)",
         q + ["-from=" + d("devices-crafted")], q + ["-from=" + d("devices-plain")]),
        ("80,000 directories of one name (-from, -since)",
         q + ["-from=" + d("names-crafted"), "-since=" + d("names-crafted")],
         q + ["-from=" + d("names-plain"), "-since=" + d("names-plain")]),
        ("80,000 directories gone (-from, -since)",
         q + ["-from=" + d("one"), "-since=" + d("names-plain")],
         q + ["-from=" + d("names-plain"), "-since=" + d("names-plain")]),
    ]
    print("crafted saved scans: median of %d runs, seconds" % args.runs)
    print("%-50s %9s %9s %7s" % ("dump", "crafted", "ordinary", "ratio"))
    for title, crafted, plain in cases:
        a, b = timed(crafted, args.runs), timed(plain, args.runs)
        ratio = a / b if b > 0 else float("inf")
        print("%-50s %9.3f %9.3f %7.2f%s" % (title, a, b, ratio,
                                            "" if ratio <= 3 else "  over 3x"), flush=True)


if __name__ == "__main__":
    main()
