#!/usr/bin/python3
"""The answers of tesq serve equal the library's through tesq: for 1,000
words and 1,000 queries drawn from the built data (the term list, the place
and name dictionaries, the segmenter lexicon) and standard numbers,
/v1/word equals `tesq word` and /v1/search equals `tesq search`, byte for
byte once decoded.

usage: serve_equality_test.py TESQ DATA_DIR  (SERVE_EQUALITY_COUNT)
"""
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import urllib.parse

import serve_support as ss

# 1,000 of each; fewer under the sanitizers, where each tesq process takes
# far longer to start (SERVE_EQUALITY_COUNT).
COUNT = int(os.environ.get("SERVE_EQUALITY_COUNT", "1000"))


def dictionary_words(path, column_split):
    words = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            word = column_split(line)
            if word and " " not in word and not word.startswith("-"):
                words.append(word)
    return words


def corpus(data_dir, rng):
    terms = dictionary_words(os.path.join(os.path.dirname(__file__), "..", "..", "data", "terms.tsv"),
                             lambda l: l.split("\t")[0])
    places = dictionary_words(os.path.join(data_dir, "place.txt"), lambda l: l.split("\t")[0])
    lexicon = dictionary_words(os.path.join(data_dir, "segmenter.txt"), lambda l: l.split(" ")[0])
    surnames = [w for w in dictionary_words(os.path.join(data_dir, "name_dic.txt"), lambda l: l.split("\t")[0])
                if len(w) == 1]
    numbers = ["9787111123453", "7-111-12345-X", "1234-5679", "11-1234/G", "CN201010123456.7", "12345"]

    def word():
        kind = rng.random()
        if kind < 0.15:
            return rng.choice(terms)
        if kind < 0.35:
            return rng.choice(places)
        if kind < 0.55:  # a name, sometimes followed by more text (a prefix split)
            name = rng.choice(surnames) + "".join(rng.choice(lexicon)[:1] for _ in range(rng.randint(1, 2)))
            return name + (rng.choice(lexicon) if rng.random() < 0.3 else "")
        if kind < 0.6:
            return rng.choice(numbers)
        return rng.choice(lexicon)

    words = [word() for _ in range(COUNT)]
    queries = [" ".join(word() for _ in range(rng.randint(1, 4))) for _ in range(COUNT)]
    return words, queries


def tesq(tesq_path, env, workdir, *args):
    proc = subprocess.run([tesq_path] + list(args), capture_output=True, env=env, cwd=workdir, timeout=60)
    return proc.returncode, proc.stdout


def main():
    tesq_path, data_dir = ss.args_or_skip(sys.argv, __doc__)
    words, queries = corpus(data_dir, random.Random(20261209))
    server = ss.Server(tesq_path, data_dir, "--no-log", "--no-trace")
    env = {k: v for k, v in os.environ.items() if k != "TESQ_DB"}
    env["TESQ_DATA_DIR"] = data_dir
    failures = []
    labels = set()

    def check_word(w):
        status, out = tesq(tesq_path, env, server.workdir, "word", "--", w)
        code, doc = server.get_json("/v1/word", word=w)
        expected = {"word": w, "label": out.decode("utf-8")[:-1] if status == 0 else None,
                    "result": {0: 0, 3: 3}.get(status, -1)}
        labels.add(doc.get("label"))
        if code != 200 or doc != expected:
            return "word %r: tesq %d %r, serve %d %r" % (w, status, out, code, doc)
        return None

    def check_query(q):
        status, out = tesq(tesq_path, env, server.workdir, "search", "--", q)
        code, _, body = server.request("GET", "/v1/search?q=" + urllib.parse.quote(q))
        if status != 0 or code != 200 or body + b"\n" != out:
            return "query %r: tesq %d %r, serve %d %r" % (q, status, out, code, body)
        return None

    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            failures += [f for f in pool.map(check_word, words) if f]
            failures += [f for f in pool.map(check_query, queries) if f]
    finally:
        status = server.stop()
        shutil.rmtree(server.workdir, ignore_errors=True)
    for f in failures[:20]:
        print(f)
    print("%d words and %d queries compared; %d differ; labels seen: %s; server exit %d"
          % (len(words), len(queries), len(failures), " ".join(sorted(str(l) for l in labels)), status))
    # A corpus that reaches few categories would prove little.
    if len(labels) < 6:
        print("too few categories in the corpus")
        return 1
    return 1 if failures or status != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
