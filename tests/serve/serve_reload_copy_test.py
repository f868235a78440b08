#!/usr/bin/python3
"""tesq serve over a PostgreSQL term table large enough that reading a
worker's copy of it takes a noticeable time: keep-alive clients asking for
one known term, from the first worker through three reloads, get its label
in every answer, never {"label":null} nor another label, and no request is
lost. A new worker takes over only once its copy answers, so no lookup of
the clients goes to the server while the copy is read. A reload whose
worker's copy is not read within --copy-wait, or cannot be read (the
database down), fails, and the old worker goes on answering from its copy.

Run under scripts/with_postgres.sh (TESQ_TEST_PG_URI); skipped without it.

usage: serve_reload_copy_test.py TESQ DATA_DIR
environment: SERVE_RELOAD_ROWS   rows of the table (default 200000)
             SERVE_RELOAD_COUNT  reloads (default 3)
"""
import http.client
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import serve_support as ss

TESQ = DATA_DIR = ""
URI = os.environ.get("TESQ_TEST_PG_URI", "")
ROWS = int(os.environ.get("SERVE_RELOAD_ROWS", "200000"))
RELOADS = int(os.environ.get("SERVE_RELOAD_COUNT", "3"))
CLIENTS = 4
# The term asked for, and a label that no stage but the table gives.
TERM, LABEL = "重载测试词", "重载标签"


def write_terms(path, rows):
    with open(path, "w", encoding="utf-8") as f:
        for n in range(rows):
            f.write("载词%07d\t标签%d\n" % (n, n % 97))
        f.write("%s\t%s\n" % (TERM, LABEL))


class Tally:
    """What the clients got, counted under one lock."""

    def __init__(self):
        self.lock = threading.Lock()
        self.right = self.null = self.other = self.errors = 0
        self.samples = []  # the first wrong answers, with when they came

    def add(self, kind, sample=None):
        with self.lock:
            setattr(self, kind, getattr(self, kind) + 1)
            if sample is not None and len(self.samples) < 10:
                self.samples.append((round(time.time(), 3), sample))

    def total(self):
        return self.right + self.null + self.other + self.errors


def ask(port, stop, tally):
    """One keep-alive client: the same question until `stop`; a connection
    the server closes (a draining worker's Connection: close) is opened
    again by http.client at the next request."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    path = "/v1/word?word=" + "".join("%%%02X" % b for b in TERM.encode("utf-8"))
    while not stop.is_set():
        try:
            conn.request("GET", path)
            resp = conn.getresponse()
            body = resp.read()
            label = json.loads(body).get("label") if resp.status == 200 else body
            if label == LABEL:
                tally.add("right")
            elif label is None:
                tally.add("null", body.decode("utf-8", "replace"))
            else:
                tally.add("other", (resp.status, body.decode("utf-8", "replace")))
        except Exception as e:  # a request the server closed without answering
            tally.add("errors", repr(e))
            conn.close()
    conn.close()


class Reload_Copy(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = tempfile.mkdtemp(prefix="tesq-serve-reload-copy-")
        try:
            terms = os.path.join(work, "terms.tsv")
            write_terms(terms, ROWS)
            env = dict(os.environ, TESQ_DB=URI, TESQ_DATA_DIR=DATA_DIR)
            started = time.time()
            subprocess.run([TESQ, "terms", "import", "--replace", terms], env=env, check=True, timeout=300,
                           stdout=subprocess.DEVNULL)
            print("imported %d rows in %.1f s" % (ROWS + 1, time.time() - started))
        finally:
            shutil.rmtree(work, ignore_errors=True)

    def test_every_answer_is_the_label_across_reloads(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-trace", "--no-log", extra_env={"TESQ_DB": URI}, ready_timeout=150)
        tally, stop = Tally(), threading.Event()
        clients = [threading.Thread(target=ask, args=(server.port, stop, tally)) for _ in range(CLIENTS)]
        reload_times = []
        try:
            for c in clients:
                c.start()
            time.sleep(1.0)
            for n in range(1, RELOADS + 1):
                sent = time.time()
                server.signal(signal.SIGHUP)
                self.assertTrue(server.wait_log('"event":"reloaded"', count=n, timeout=150), server.log_text())
                reload_times.append(round(time.time() - sent, 2))
                time.sleep(1.0)
        finally:
            stop.set()
            for c in clients:
                c.join(timeout=30)
            status = server.stop()
            log = server.log_text()
            shutil.rmtree(server.workdir, ignore_errors=True)
        print("answers %d: label %d, null %d, another %d, lost %d; reloads took %s s" %
              (tally.total(), tally.right, tally.null, tally.other, tally.errors, reload_times))
        for sample in tally.samples:
            print("  wrong: %s %s" % sample)
        self.assertEqual(status, 0)
        self.assertEqual(tally.null, 0, "answers without the label")
        self.assertEqual(tally.other, 0, "answers with another label")
        self.assertEqual(tally.errors, 0, "requests lost")
        self.assertGreater(tally.right, 100 * (RELOADS + 1))
        self.assertNotIn('"event":"reload_failed"', log)
        # Each worker took over with its copy read, not by the end of its wait.
        self.assertEqual(log.count("its copy of the term table is ready"), RELOADS + 1, log)

    def test_a_reload_not_ready_within_the_wait_fails_and_the_old_worker_goes_on(self):
        # 1 ms is less than any read of the table takes.
        server = ss.Server(TESQ, DATA_DIR, "--no-trace", "--no-log", "--copy-wait", "1", extra_env={"TESQ_DB": URI})
        try:
            # The first worker serves anyway: there is no other.
            self.assertIn("was not read within --copy-wait 1 ms", server.log_text())
            first = server.worker_pid()
            server.signal(signal.SIGHUP)
            self.assertTrue(server.wait_log('"event":"reload_failed"', timeout=60), server.log_text())
            self.assertIn("the new worker does not serve (its copy of the term table was not read within "
                          "--copy-wait 1 ms", server.log_text())
            self.assertNotIn('"event":"reloaded"', server.log_text())
            deadline = time.time() + 10
            while server.worker_pid() != first and time.time() < deadline:  # the new worker has exited
                time.sleep(0.05)
            self.assertEqual(server.worker_pid(), first)
            self.assertEqual(server.get_json("/healthz")[1]["generation"], 1)
            # The old worker's copy is read meanwhile and answers.
            label = None
            while label != LABEL and time.time() < deadline:
                label = server.get_json("/v1/word", word=TERM)[1]["label"]
            self.assertEqual(label, LABEL)
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_a_reload_while_the_database_is_down_fails_and_the_old_copy_answers(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-trace", "--no-log", extra_env={"TESQ_DB": URI}, ready_timeout=150)
        try:
            self.assertEqual(server.get_json("/v1/word", word=TERM)[1]["label"], LABEL)
            pg_ctl("stop -m fast")
            try:
                server.signal(signal.SIGHUP)
                self.assertTrue(server.wait_log('"event":"reload_failed"', timeout=60), server.log_text())
                self.assertIn("its copy of the term table could not be read", server.log_text())
                self.assertNotIn('"event":"reloaded"', server.log_text())
                # The old worker answers from its copy, the server down.
                for _ in range(20):
                    self.assertEqual(server.get_json("/v1/word", word=TERM)[1]["label"], LABEL)
                self.assertEqual(server.get_json("/healthz")[1]["generation"], 1)
            finally:
                pg_ctl("start")
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)


def pg_ctl(action):
    """Stops or starts the test's own server (scripts/with_postgres.sh)."""
    command = "%s -o '%s' %s > /dev/null 2>&1" % (os.environ["TESQ_TEST_PG_CTL"], os.environ["TESQ_TEST_PG_OPTIONS"],
                                                 action)
    for _ in range(40):
        if subprocess.call(command, shell=True) == 0:
            return
        time.sleep(0.25)
    raise AssertionError("failed: " + command)


if __name__ == "__main__":
    TESQ, DATA_DIR = ss.args_or_skip(sys.argv, __doc__)
    if not URI:
        print("TESQ_TEST_PG_URI is unset: run under scripts/with_postgres.sh (skipped)")
        raise SystemExit(ss.SKIP)
    unittest.main(argv=sys.argv[:1], verbosity=2)
