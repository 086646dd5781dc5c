#!/usr/bin/env python3
# make_tree.py FOLDER [FOLDERS FILES MIN MAX]: the benchmarks' tree of small files of random
# words, FILES files of MIN to MAX bytes in each of FOLDERS folders (dir000/file000.txt ...);
# by default 100 folders of 200 files of 200 B to 8 KiB (20,000 files). Deterministic: the
# same bytes on every machine, so archive sizes and times can be compared between runs.
import os
import random
import sys

root = sys.argv[1]
folders, files, low, high = (int(a) for a in sys.argv[2:6]) if len(sys.argv) > 2 else (100, 200, 200, 8192)
rng = random.Random(20000)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9)))
         for _ in range(2000)]
for d in range(folders):
    folder = os.path.join(root, 'dir%03d' % d)
    os.makedirs(folder)
    for f in range(files):
        size = rng.randint(low, high)
        text = ' '.join(rng.choice(words) for _ in range(size // 5)).encode()[:size]
        with open(os.path.join(folder, 'file%03d.txt' % f), 'wb') as out:
            out.write(text)
