#!/usr/bin/python3
"""The Python package against the C call and against jieba, in one run.

    bench/python/bench_python.py BUILD_DIR [DATA_DIR] [ESSAY_CORPUS]

On the same 100,000 short queries (the words of tests/serve/serve_equality_test.py's corpus,
drawn from the built data: terms, places, names, lexicon words, standard numbers):
tesqsrch.label() per call, Tesquin_Search_Singleword from C (bench/python/label_c.c, built here
with cc against BUILD_DIR's library), jieba.posseg.lcut and jieba.lcut. On the same essay corpus
(the zh_CN manual pages of manpages-zh as bench/essay/run_peers.sh renders them, at
/tmp/essay_bench/corpus.txt unless given): tesqsrch.essay(), tesqsrch.posseg.lcut(),
jieba.posseg.lcut and jieba.lcut. Load times are apart from the figures; ours are the best of 3
passes, jieba's of one (they take long). Prints a Markdown table and the ratios. Run with
/usr/bin/python3, which sees Debian's python3-jieba.
"""
import json
import os
import random
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "serve"))
sys.path.insert(0, os.path.join(ROOT, "python"))
import serve_equality_test as corpus_source  # noqa: E402

QUERIES = 100_000


def best_of(passes, function):
    best = None
    for _ in range(passes):
        start = time.perf_counter()
        function()
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best


def c_figure(build, words):
    with tempfile.TemporaryDirectory() as work:
        program = os.path.join(work, "label_c")
        subprocess.run(["cc", "-O2", "-o", program, os.path.join(HERE, "label_c.c"), "-I",
                        os.path.join(ROOT, "include"), "-L", os.path.join(build, "src"), "-ltesqsrch",
                        "-Wl,-rpath," + os.path.join(build, "src")], check=True)
        path = os.path.join(work, "words.gb")
        with open(path, "wb") as f:
            for w in words:
                f.write(w.translate({0xB7: 0x30FB, 0x2014: 0x2015}).encode("gb2312") + b"\n")
        out = subprocess.run([program, path, "3"], check=True, capture_output=True, text=True).stdout
        return json.loads(out)["seconds"]


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    build = os.path.abspath(argv[1])
    data_dir = argv[2] if len(argv) > 2 else os.environ.get("TESQ_DATA_DIR") or os.path.join(build, "data")
    corpus_path = argv[3] if len(argv) > 3 else "/tmp/essay_bench/corpus.txt"
    os.environ["TESQ_DATA_DIR"] = data_dir
    os.environ.setdefault("TESQ_LIBRARY", os.path.join(build, "src", "libtesqsrch.so.0"))
    if not os.path.exists(corpus_path):
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "vornel_corpus.py"), "render", "--out",
                        corpus_path], check=True)
    import jieba
    import jieba.posseg
    import tesqsrch

    corpus_source.COUNT = QUERIES
    words, _ = corpus_source.corpus(data_dir, random.Random(7))
    with open(corpus_path, encoding="utf-8") as f:
        text = f.read()

    start = time.perf_counter()
    tesqsrch.init()
    tesqsrch.label("x")
    our_load = time.perf_counter() - start
    jieba.setLogLevel(60)
    start = time.perf_counter()
    jieba.initialize()
    jieba.posseg.dt.initialize()
    jieba_load = time.perf_counter() - start

    rows = []
    label_s = best_of(3, lambda: [tesqsrch.label(w) for w in words])
    c_s = c_figure(build, words)
    posseg_q = best_of(1, lambda: [jieba.posseg.lcut(w) for w in words])
    lcut_q = best_of(1, lambda: [jieba.lcut(w) for w in words])
    for name, seconds in (("tesqsrch.label (Python)", label_s), ("Tesquin_Search_Singleword (C)", c_s),
                          ("jieba.posseg.lcut", posseg_q), ("jieba.lcut", lcut_q)):
        rows.append(("100,000 short queries", name, seconds, f"{seconds / len(words) * 1e6:.2f} µs/call"))
    essay_s = best_of(3, lambda: tesqsrch.essay(text))
    ours_posseg = best_of(3, lambda: tesqsrch.posseg.lcut(text))
    posseg_e = best_of(1, lambda: jieba.posseg.lcut(text))
    lcut_e = best_of(1, lambda: jieba.lcut(text))
    megabytes = len(text.encode("utf-8")) / 1e6
    for name, seconds in (("tesqsrch.essay", essay_s), ("tesqsrch.posseg.lcut", ours_posseg),
                          ("jieba.posseg.lcut", posseg_e), ("jieba.lcut", lcut_e)):
        rows.append((f"essay corpus ({megabytes:.1f} MB UTF-8)", name, seconds, f"{megabytes / seconds:.2f} MB/s"))

    print("| input | call | seconds | rate |")
    print("|---|---|---:|---:|")
    for row in rows:
        print(f"| {row[0]} | {row[1]} | {row[2]:.3f} | {row[3]} |")
    print()
    print(f"load: tesqsrch {our_load:.3f} s, jieba {jieba_load:.3f} s")
    print(f"label: {posseg_q / label_s:.1f}x jieba.posseg.lcut, {lcut_q / label_s:.1f}x jieba.lcut; "
          f"overhead over C {(label_s - c_s) / len(words) * 1e6:.2f} µs/call ({label_s / c_s:.1f}x the C time)")
    print(f"essay: {posseg_e / essay_s:.1f}x jieba.posseg.lcut, {lcut_e / essay_s:.1f}x jieba.lcut; "
          f"posseg.lcut {posseg_e / ours_posseg:.1f}x jieba.posseg.lcut")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
