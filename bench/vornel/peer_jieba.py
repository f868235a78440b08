#!/usr/bin/python3
"""Times python jieba's cut(HMM=False) on a UTF-8 text: dictionary load, then
the best of REPEAT cuts of the whole text. Prints JSON."""
import json
import sys
import time

import jieba

jieba.setLogLevel(60)
path, repeat = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 3
text = open(path, encoding='utf-8').read()
t0 = time.perf_counter()
jieba.dt.tmp_dir = None
jieba.initialize()
load = time.perf_counter() - t0
best, words = None, 0
for _ in range(repeat):
    t0 = time.perf_counter()
    words = sum(1 for _ in jieba.cut(text, HMM=False))
    dt = time.perf_counter() - t0
    best = dt if best is None else min(best, dt)
print(json.dumps({'peer': 'python jieba %s cut(HMM=False)' % jieba.__version__, 'load_s': load,
                  'cut_s': best, 'words': words}))
