#!/usr/bin/env python3
"""Generates the benchmark trees under one folder, the same bytes for the same seed.

  typical/  about 20,000 directories and 200,000 files, sizes from empty to a few MB
  wide/     dirs/ with 50,000 empty subdirectories, files/ with 50,000 small files
  deep/     a chain of 100 directories, three files in each
  million/  one directory of 1,000,000 empty files
  many/     32 directories of 30,000 empty files each
  huge/     one directory of 2,000,000 names: hard links to 40 files of 0 to 39 KiB, each file's
            names spread over the whole listing (ext4 allows 65,000 names to a file)

Files above 1 KiB are sparse (ftruncate), so the trees take little disk and generate in
seconds; the sizes the scanners read are the same as if they held data. A stamp file records
the generator version and seed: an existing tree with the same stamp is kept as it is.
"""
import argparse
import json
import math
import os
import random
import shutil
import sys

VERSION = 1
ALPHABET = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-"
EXTENSIONS = ["", ".txt", ".c", ".h", ".o", ".png", ".json", ".log", ".so", ".py", ".md"]
MAX_SIZE = 4 * 1024 * 1024  # the largest file
REAL_LIMIT = 1024           # files up to this size hold real bytes


def random_name(rng, low, high):
    return "".join(rng.choice(ALPHABET) for _ in range(rng.randint(low, high)))


def write_file(path, size):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        if size <= REAL_LIMIT:
            if size:
                os.write(fd, b"q" * size)
        else:
            os.ftruncate(fd, size)
    finally:
        os.close(fd)


def file_size(rng):
    # Log-uniform from 1 byte to MAX_SIZE, with a share of empty files: many small files and a
    # long tail of big ones, as in a home or source tree.
    if rng.random() < 0.06:
        return 0
    return int(math.exp(rng.uniform(0.0, math.log(MAX_SIZE))))


def unique_names(rng, count, low, high, taken):
    names = []
    while len(names) < count:
        name = random_name(rng, low, high)
        key = name.upper()  # unique also on case-insensitive systems
        if key in taken:
            continue
        taken.add(key)
        names.append(name)
    return names


def make_typical(root, rng, dirs=20000, files=200000, max_depth=9):
    # A random recursive tree: each new directory picks a parent among the existing ones,
    # shallow ones slightly favoured, so the shape has both bushy and long branches.
    parents = [-1]
    depth = [0]
    for i in range(1, dirs):
        while True:
            p = rng.randrange(i) if rng.random() < 0.7 else rng.randrange(max(1, i // 8))
            if depth[p] < max_depth:
                break
        parents.append(p)
        depth.append(depth[p] + 1)
    taken = [set() for _ in range(dirs)]
    paths = [root]
    for i in range(1, dirs):
        name = unique_names(rng, 1, 3, 12, taken[parents[i]])[0]
        paths.append(os.path.join(paths[parents[i]], name))
        os.mkdir(paths[i])
    # Files go to directories with exponentially spread weights: most hold a few, some many.
    weights = [rng.expovariate(1.0) for _ in range(dirs)]
    owners = rng.choices(range(dirs), weights=weights, k=files)
    counts = [0] * dirs
    for o in owners:
        counts[o] += 1
    entries = dirs - 1
    for d in range(dirs):
        for stem in unique_names(rng, counts[d], 2, 14, taken[d]):
            name = stem + rng.choice(EXTENSIONS)
            write_file(os.path.join(paths[d], name), file_size(rng))
            entries += 1
    return {"directories": dirs, "files": files, "entries": entries}


def make_wide(root, rng, count=50000):
    dirs = os.path.join(root, "dirs")
    files = os.path.join(root, "files")
    os.mkdir(dirs)
    os.mkdir(files)
    for name in unique_names(rng, count, 4, 16, set()):
        os.mkdir(os.path.join(dirs, name))
    for name in unique_names(rng, count, 4, 16, set()):
        write_file(os.path.join(files, name), rng.randrange(0, 65536))
    return {"directories": count + 3, "files": count, "entries": 2 * count + 2}


def make_deep(root, rng, levels=100):
    path = root
    for level in range(levels):
        path = os.path.join(path, "d")
        os.mkdir(path)
        for k in range(3):
            write_file(os.path.join(path, "f%d" % k), file_size(rng))
    return {"directories": levels + 1, "files": 3 * levels, "entries": 4 * levels}


def make_flat(root, rng, directories, files):
    """`directories` folders of `files` empty files each (the root itself when 0)."""
    folders = [root] if directories == 0 else [os.path.join(root, "d%02d" % i)
                                               for i in range(directories)]
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
        for i in range(files):
            os.close(os.open(os.path.join(folder, "f%07d" % i), os.O_WRONLY | os.O_CREAT, 0o644))
    return {"directories": max(1, directories + 1), "files": len(folders) * files,
            "entries": len(folders) * (files + 2)}


def make_huge(root, rng, names=2000000, files=40):
    """One directory of `names` names, every one a hard link: name i is a name of file i % files,
    so that a file's names lie in every batch of the listing and the scan's rule (the first
    name met is charged) is tested across them. Quick to make: no inode per name."""
    targets = os.path.join(root, "targets")
    big = root
    os.mkdir(targets)
    sources = []
    for k in range(files):
        path = os.path.join(targets, "t%02d" % k)
        write_file(path, 1024 * k)
        sources.append(path)
    order = list(range(names))
    rng.shuffle(order)  # the names are not created in the order they are listed
    for i in order:
        os.link(sources[i % files], os.path.join(big, "n%07d" % i))
    shutil.rmtree(targets)
    return {"directories": 1, "files": names, "entries": names + 2}


MAKERS = {
    "typical": make_typical,
    "wide": make_wide,
    "deep": make_deep,
    "million": lambda root, rng: make_flat(root, rng, 0, 1000000),
    "many": lambda root, rng: make_flat(root, rng, 32, 30000),
    "huge": make_huge,
}


def ensure(out, name, seed):
    root = os.path.join(out, name)
    stamp_path = os.path.join(out, name + ".json")
    stamp = {"version": VERSION, "seed": seed}
    if os.path.isdir(root) and os.path.exists(stamp_path):
        with open(stamp_path) as f:
            old = json.load(f)
        if old.get("version") == VERSION and old.get("seed") == seed:
            return old
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    print("generating %s tree in %s" % (name, root), file=sys.stderr)
    stamp.update(MAKERS[name](root, random.Random("%s-%d" % (name, seed))))
    with open(stamp_path, "w") as f:
        json.dump(stamp, f)
    return stamp


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out", help="folder that receives typical/, wide/ and deep/")
    ap.add_argument("--seed", type=int, default=5)
    ap.add_argument("trees", nargs="*", default=list(MAKERS))
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for name in args.trees:
        info = ensure(args.out, name, args.seed)
        print("%s: %d directories, %d files" % (name, info["directories"], info["files"]))


if __name__ == "__main__":
    main()
