#!/usr/bin/env python3
# make_tree.py FOLDER: the benchmarks' tree of 20,000 small files, 200 B to 8 KiB of random
# words each, in 100 folders (dir000/file000.txt ...). Deterministic: the same bytes on every
# machine, so archive sizes and times can be compared between runs.
import os
import random
import sys

root = sys.argv[1]
rng = random.Random(20000)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9)))
         for _ in range(2000)]
for d in range(100):
    folder = os.path.join(root, 'dir%03d' % d)
    os.makedirs(folder)
    for f in range(200):
        size = rng.randint(200, 8192)
        text = ' '.join(rng.choice(words) for _ in range(size // 5)).encode()[:size]
        with open(os.path.join(folder, 'file%03d.txt' % f), 'wb') as out:
            out.write(text)
