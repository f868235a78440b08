#!/usr/bin/python3
"""Load on tesq serve with wrk, on loopback (not run in CI).

usage: serve_bench.py TESQ DATA_DIR [SECONDS_PER_RUN]
       soak: serve_bench.py --soak TESQ DATA_DIR [SECONDS] [RELOAD_EVERY]

Bench: /v1/empty (the HTTP layer alone: --empty-handler), /v1/word with a mix
of real words, /v1/search with real queries and /v1/essay on a 2 KB text, at
1, 16, 64 and 256 connections; prints throughput, p50 and p99 latency, error
count and the resident memory of the serving worker after each run.

Soak: a mixed load (word, search, essay, batch) for SECONDS (default 600) on
64 connections, SIGHUP every RELOAD_EVERY seconds (default 30); prints the
resident memory of master and worker every 30 s, the change from minute 1
to the end, and the error count (non-2xx answers and socket errors).
"""
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "serve"))
import serve_support as ss  # noqa: E402
import serve_equality_test as corpus_source  # noqa: E402

LUA_COMMON = r"""
local n = 0
function done(summary, latency, requests)
  local errors = summary.errors.connect + summary.errors.read + summary.errors.write
               + summary.errors.status + summary.errors.timeout
  io.write(string.format('RESULT {"requests":%d,"seconds":%f,"p50_ms":%f,"p99_ms":%f,"errors":%d,' ..
    '"connect":%d,"read":%d,"write":%d,"status":%d,"timeout":%d}\n',
    summary.requests, summary.duration / 1e6, latency:percentile(50) / 1000, latency:percentile(99) / 1000, errors,
    summary.errors.connect, summary.errors.read, summary.errors.write, summary.errors.status, summary.errors.timeout))
end
"""


def lua_list(name, items):
    return "%s = {%s}\n" % (name, ",".join('"%s"' % i.replace("\\", "\\\\").replace('"', '\\"') for i in items))


def scripts(data_dir, workdir):
    words, queries = corpus_source.corpus(data_dir, random.Random(7))
    rng = random.Random(8)
    lexicon = corpus_source.dictionary_words(os.path.join(data_dir, "segmenter.txt"), lambda l: l.split(" ")[0])
    places = corpus_source.dictionary_words(os.path.join(data_dir, "place.txt"), lambda l: l.split("\t")[0])
    text = ""
    while len(text.encode("utf-8")) < 2048 - 40:
        text += rng.choice(lexicon + places + ["张三", "北京大学", "李四"]) + rng.choice(["", "", "", "，", "。"])
    essay = json.dumps({"text": text}, ensure_ascii=False)
    q = lambda items, key: [("/v1/%s?%s=" % (key[0], key[1])) + urllib.parse.quote(i) for i in items]
    paths = {
        "empty": LUA_COMMON + 'request = function() return wrk.format("GET", "/v1/empty") end\n',
        "word": LUA_COMMON + lua_list("paths", q(words, ("word", "word"))) +
        'request = function() n = n % #paths + 1; return wrk.format("GET", paths[n]) end\n',
        "search": LUA_COMMON + lua_list("paths", q(queries, ("search", "q"))) +
        'request = function() n = n % #paths + 1; return wrk.format("GET", paths[n]) end\n',
        "essay": LUA_COMMON + lua_list("body", [essay]) +
        'request = function() return wrk.format("POST", "/v1/essay", {["Content-Type"]="application/json"}, body[1]) end\n',
        "mixed": LUA_COMMON + lua_list("words", q(words, ("word", "word"))) + lua_list("queries", q(queries, ("search", "q"))) +
        lua_list("body", [essay]) +
        lua_list("batch", [json.dumps({"words": words[:50]}, ensure_ascii=False)]) + r"""
request = function()
  n = n + 1
  local k = n % 10
  if k < 5 then return wrk.format("GET", words[n % #words + 1]) end
  if k < 8 then return wrk.format("GET", queries[n % #queries + 1]) end
  if k < 9 then return wrk.format("POST", "/v1/essay", {["Content-Type"]="application/json"}, body[1]) end
  return wrk.format("POST", "/v1/batch", {["Content-Type"]="application/json"}, batch[1])
end
""",
    }
    files = {}
    for name, lua in paths.items():
        files[name] = os.path.join(workdir, name + ".lua")
        with open(files[name], "w", encoding="utf-8") as f:
            f.write(lua)
    return files, len(text.encode("utf-8"))


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def wrk(port, script, connections, seconds):
    threads = min(2, connections)
    proc = subprocess.run(["wrk", "-t%d" % threads, "-c%d" % connections, "-d%ds" % seconds, "--timeout", "5s",
                           "-s", script, "http://127.0.0.1:%d" % port], capture_output=True, text=True,
                          timeout=seconds + 60)
    for line in proc.stdout.splitlines():
        if line.startswith("RESULT "):
            return json.loads(line[7:])
    raise RuntimeError(proc.stdout + proc.stderr)


def bench(tesq, data_dir, seconds):
    server = ss.Server(tesq, data_dir, "--no-log", "--no-trace", "--empty-handler", "--max-connections", "1024")
    try:
        files, essay_bytes = scripts(data_dir, server.workdir)
        print("| load | connections | requests/s | p50 ms | p99 ms | errors | worker RSS MB |")
        print("|---|---:|---:|---:|---:|---:|---:|")
        for load in ["empty", "word", "search", "essay"]:
            for c in [1, 16, 64, 256]:
                r = wrk(server.port, files[load], c, seconds)
                worker = children(server.proc.pid)
                rss = sum(rss_kb(p) for p in worker) / 1024
                name = {"empty": "/v1/empty (HTTP layer)", "essay": "/v1/essay (%d B)" % essay_bytes}.get(load, "/v1/" + load)
                print("| %s | %d | %.0f | %.3f | %.3f | %d | %.1f |" % (name, c, r["requests"] / r["seconds"], r["p50_ms"],
                                                                      r["p99_ms"], r["errors"], rss), flush=True)
    finally:
        server.stop()
        shutil.rmtree(server.workdir, ignore_errors=True)


def soak(tesq, data_dir, seconds, reload_every):
    server = ss.Server(tesq, data_dir, "--no-log", "--trace-max-bytes", str(8 << 20), "--trace-keep", "2")
    try:
        files, _ = scripts(data_dir, server.workdir)
        load = subprocess.Popen(["wrk", "-t2", "-c64", "-d%ds" % seconds, "--timeout", "5s", "-s", files["mixed"],
                                 "http://127.0.0.1:%d" % server.port], stdout=subprocess.PIPE, text=True)
        start = time.time()
        next_reload = start + reload_every
        samples = []
        reloads = 0
        next_sample = start + 30
        while load.poll() is None and time.time() - start < seconds + 30:
            time.sleep(0.5)
            now = time.time()
            if now >= next_reload and now - start < seconds - 5:
                server.signal(signal.SIGHUP)
                reloads += 1
                next_reload += reload_every
            if now >= next_sample:
                master = rss_kb(server.proc.pid)
                workers = [rss_kb(p) for p in children(server.proc.pid)]
                samples.append((now - start, master, workers))
                print("t=%4.0fs master %6.1f MB, workers %s MB" % (now - start, master / 1024,
                                                                    " ".join("%.1f" % (w / 1024) for w in workers)),
                      flush=True)
                next_sample += 30
        out = load.communicate(timeout=60)[0]
        result = next(json.loads(l[7:]) for l in out.splitlines() if l.startswith("RESULT "))
        log = server.log_text()
        print("requests %d in %.0f s (%.0f/s), errors %d (connect %d, read %d, write %d, status %d, timeout %d), "
              "p50 %.3f ms, p99 %.3f ms" % (
                  result["requests"], result["seconds"], result["requests"] / result["seconds"], result["errors"],
                  result["connect"], result["read"], result["write"], result["status"], result["timeout"],
                  result["p50_ms"], result["p99_ms"]))
        print("reloads sent %d, reloaded %d, failed %d" % (reloads, log.count('"event":"reloaded"'),
                                                        log.count('"event":"reload_failed"')))
        # The serving worker's memory (the largest child) from the first minute on.
        serving = [(t, max(w) if w else 0) for t, _, w in samples]
        first = next((r for t, r in serving if t >= 60), serving[0][1] if serving else 0)
        last = serving[-1][1] if serving else 0
        if first:
            print("serving worker RSS: minute 1 %.1f MB, end %.1f MB, change %+.1f%%" % (
                first / 1024, last / 1024, 100.0 * (last - first) / first))
        trace = sorted(n for n in os.listdir(server.workdir) if n.startswith("as.txt"))
        print("trace files: " + ", ".join("%s %.1f MB" % (n, os.path.getsize(os.path.join(server.workdir, n)) / 1048576)
                                          for n in trace))
    finally:
        status = server.stop()
        print("server exit %d" % status)
        shutil.rmtree(server.workdir, ignore_errors=True)


def main(argv):
    if len(argv) >= 3 and argv[0] == "--soak":
        soak(os.path.abspath(argv[1]), os.path.abspath(argv[2]), int(argv[3]) if len(argv) > 3 else 600,
             int(argv[4]) if len(argv) > 4 else 30)
        return 0
    if len(argv) < 2:
        print(__doc__)
        return 2
    bench(os.path.abspath(argv[0]), os.path.abspath(argv[1]), int(argv[2]) if len(argv) > 2 else 5)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
