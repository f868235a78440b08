#!/usr/bin/python3
"""Times python jieba's posseg.cut(HMM=False) (words with part-of-speech
flags) on a UTF-8 text: dictionary load, then the best of REPEAT runs (wall and CPU time) over
the whole text. Prints JSON. Run with /usr/bin/python3 (Debian's
python3-jieba)."""
import json
import sys
import time

import jieba
import jieba.posseg

jieba.setLogLevel(60)
path, repeat = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1
text = open(path, encoding='utf-8').read()
t0 = time.perf_counter()
jieba.dt.tmp_dir = None
jieba.initialize()
jieba.posseg.dt.initialize()
load = time.perf_counter() - t0
best, best_cpu, words = None, None, 0
for _ in range(repeat):
    t0, c0 = time.perf_counter(), time.process_time()
    words = sum(1 for _ in jieba.posseg.cut(text, HMM=False))
    dt, cpu = time.perf_counter() - t0, time.process_time() - c0
    best = dt if best is None else min(best, dt)
    best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
print(json.dumps({'peer': 'python jieba %s posseg.cut(HMM=False)' % jieba.__version__, 'load_s': load,
                  'posseg_s': best, 'posseg_cpu_s': best_cpu, 'words': words}))
