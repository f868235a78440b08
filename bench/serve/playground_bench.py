#!/usr/bin/python3
"""The playground page on a 1 MB essay, in headless Chromium (not run in CI).

usage: playground_bench.py TESQ DATA_DIR [CORPUS] [RUNS]

CORPUS is a UTF-8 text (default: the essay corpus that
bench/essay/run_peers.sh renders, /tmp/essay_bench/corpus.txt, rendered here
by tools/vornel_corpus.py when missing). Its first whole lines up to
1,000,000 bytes are the sample. Each run pastes the sample twice, on a fresh
page each time: as a paste event with the text on its clipboard data (the
page holds a text this long itself: "held"), and as the text put in the box
with the input event of a paste ("box", what the page does with a shorter
text). For each it measures:

  paste to highlights  from the paste's input event to the last block and
                       mark in the page: the browser's own layout of the text
                       box with the text in it (box_ms), then the page's
                       tesq-essay measure (render_ms: requests, answers,
                       blocks and marks)
  longest task         the longest main-thread task in that time (Long Tasks
                       API), and the number over 50 ms
  probe latency        the slowest of the round trips of a script evaluated
                       in the page every 50 ms meanwhile: what an input event
                       would have waited for

and checks the page's names against /v1/essay on the whole sample in one
request (the page sends it in pieces cut at line feeds; white space at a cut
can be one word more or less, so the words are reported, not compared). Prints one JSON object per run and a summary line.
"""
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "serve"))
import serve_support as ss  # noqa: E402
import browser_support as bs  # noqa: E402

SAMPLE_BYTES = 1000000
NAME_KINDS = ("person", "place", "organisation")

PASTE_JS = """(function (text, mode) {
  window.__bench = {longtasks: []};
  new PerformanceObserver((list) => { for (const e of list.getEntries()) window.__bench.longtasks.push(e.duration); })
    .observe({type: 'longtask'});
  performance.clearMarks(); performance.clearMeasures();
  const box = document.getElementById('essay');
  box.focus();
  if (mode === 'held') {
    const data = new DataTransfer();
    data.setData('text/plain', text);
    window.__bench.t0 = performance.now();
    box.dispatchEvent(new ClipboardEvent('paste', {clipboardData: data, bubbles: true, cancelable: true}));
  } else {
    box.value = text;
    window.__bench.t0 = performance.now();
    box.dispatchEvent(new InputEvent('input', {inputType: 'insertFromPaste', bubbles: true}));
  }
  return true;
})(%s, %s)"""
DONE_JS = """document.getElementById('essay-out').getAttribute('aria-busy') === 'false' &&
  /^\\d+ words:/.test(document.getElementById('essay-status').textContent)"""
RESULT_JS = """(function () {
  const m = performance.getEntriesByName('tesq-essay')[0], start = performance.getEntriesByName('tesq-essay-start')[0];
  const counts = Object.fromEntries([...document.querySelectorAll('#counts [data-kind]')].map(s => [s.dataset.kind,
    Number(s.textContent)]));
  return {paste_to_highlights_ms: start.startTime - window.__bench.t0 + m.duration,
          box_ms: start.startTime - window.__bench.t0, render_ms: m.duration,
          longtasks: window.__bench.longtasks, counts, marks: document.querySelectorAll('#essay-out mark').length,
          blocks: document.querySelectorAll('#essay-out .p').length,
          status: document.getElementById('essay-status').textContent};
})()"""


def sample_of(corpus):
    out, size = [], 0
    with open(corpus, encoding="utf-8") as f:
        for line in f:
            n = len(line.encode("utf-8"))
            if size + n > SAMPLE_BYTES:
                break
            out.append(line)
            size += n
    return "".join(out)


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    tesq, data_dir = os.path.abspath(argv[0]), os.path.abspath(argv[1])
    corpus = argv[2] if len(argv) > 2 else "/tmp/essay_bench/corpus.txt"
    runs = int(argv[3]) if len(argv) > 3 else 3
    if not os.path.exists(corpus):
        os.makedirs(os.path.dirname(os.path.abspath(corpus)), exist_ok=True)
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools", "vornel_corpus.py"), "render", "--out", corpus],
                       check=True)
    chromium = bs.find_chromium()
    if chromium is None:
        print("chromium is not installed (scripts/setup.sh installs it)")
        return 1
    text = sample_of(corpus)
    server = ss.Server(tesq, data_dir, "--no-trace", "--no-log")
    browser = bs.Browser(chromium, width=1200, height=900)
    results = []
    try:
        status, _, body = server.request("POST", "/v1/essay", text.encode("utf-8"),
                                         {"Content-Type": "text/plain; charset=utf-8"}, timeout=120)
        assert status == 200, body[:300]
        words = json.loads(body)["words"]
        whole = {k: sum(1 for w in words if w["tag_name"] == k) for k in NAME_KINDS}
        whole["words"] = len(words)
        print(json.dumps({"sample_bytes": len(text.encode("utf-8")), "characters": len(text),
                          "lines": text.count("\n"), "whole_text_request": whole}, ensure_ascii=False))
        for run, mode in [(run, mode) for run in range(runs) for mode in ("held", "box")]:
            browser.navigate("http://127.0.0.1:%d/" % server.port)
            browser.evaluate(PASTE_JS % (json.dumps(text), json.dumps(mode)), timeout=120)
            probe_max, probes = 0.0, 0
            deadline = time.time() + 60
            while time.time() < deadline:
                t = time.perf_counter()
                done = browser.evaluate(DONE_JS)
                probe_max = max(probe_max, (time.perf_counter() - t) * 1000)
                probes += 1
                if done:
                    break
                time.sleep(0.05)
            r = browser.evaluate(RESULT_JS)
            long = r.pop("longtasks")
            r.update({"run": run + 1, "mode": mode, "probe_max_ms": round(probe_max, 1), "probes": probes,
                      "longest_task_ms": round(max(long), 1) if long else 0, "tasks_over_50ms": len(long),
                      "paste_to_highlights_ms": round(r["paste_to_highlights_ms"], 1),
                      "render_ms": round(r["render_ms"], 1), "box_ms": round(r["box_ms"], 1),
                      "names_agree_with_whole_text": all(r["counts"][k] == whole[k] for k in NAME_KINDS),
                      "words_minus_whole_text": r["counts"]["words"] - whole["words"]})
            results.append(r)
            print(json.dumps(r, ensure_ascii=False))
    finally:
        browser.close()
        server.stop()
    for mode in ("held", "box"):
        some = [r for r in results if r["mode"] == mode]
        times = [r["paste_to_highlights_ms"] for r in some]
        renders = [r["render_ms"] for r in some]
        print("%s: paste to highlights median %.0f ms, best %.0f ms, worst %.0f ms over %d runs (the page's part: "
              "median %.0f ms, best %.0f ms); longest task %.0f ms; slowest probe %.0f ms" % (
                  mode, statistics.median(times), min(times), max(times), len(times), statistics.median(renders),
                  min(renders), max(r["longest_task_ms"] for r in some), max(r["probe_max_ms"] for r in some)))
    print("load average at the end: %.1f %.1f %.1f" % os.getloadavg())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
