#!/usr/bin/python3
"""tesq serve against a hostile client and a hostile environment, on
loopback: a body is never taken as a request, framing doubts and every
limit end the connection, one connection's floods leave the worker's memory
bounded, bad bytes anywhere are a 400, and running out of descriptors,
threads, file size or a stderr reader neither crashes nor blocks the server.

usage: serve_hardening_test.py TESQ DATA_DIR
"""
import json
import os
import resource
import shutil
import signal
import socket
import subprocess
import tempfile
import sys
import threading
import time
import unittest
import zlib

import serve_support as ss

TESQ = DATA_DIR = ""
SANITIZED = os.environ.get("TESQ_SANITIZED") == "1"

ISBN = b"GET /v1/word?word=9787111123453 HTTP/1.1\r\nHost: x\r\n\r\n"
SMUGGLED = b"GET /v1/word?word=1234-5679 HTTP/1.1\r\nHost: x\r\n\r\n"


def exchange(port, data, timeout=10):
    """Sends raw bytes, then reads until the server closes; the answers and whether it closed."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        try:
            s.sendall(data)
        except OSError:
            pass
        got, closed = b"", False
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    closed = True
                    break
                got += chunk
        except socket.timeout:
            pass
        except ConnectionResetError:
            closed = True
    return ss.answers(got), closed


def read_answer(s):
    """One whole answer from a kept-alive connection."""
    got = b""
    while True:
        head, sep, rest = got.partition(b"\r\n\r\n")
        if sep:
            length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length:")][0])
            if len(rest) >= length:
                return got
        chunk = s.recv(65536)
        if not chunk:
            return got
        got += chunk


def peak_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def signal_pending(pid, signo):
    """Whether `signo` waits to be taken by process `pid` (sent to the process)."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("ShdPnd:"):
                return (int(line.split()[1], 16) >> (signo - 1)) & 1 == 1
    return False


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


class Framing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A long time limit: a request that waits for bytes never sent would
        # show as a missing answer, not as a 408.
        cls.server = ss.Server(TESQ, DATA_DIR, "--no-log", "--no-trace", "--max-body", "4096", "--timeout", "20000",
                               "--keep-alive", "3000")
        cls.port = cls.server.port

    @classmethod
    def tearDownClass(cls):
        status = cls.server.stop()
        shutil.rmtree(cls.server.workdir, ignore_errors=True)
        assert status == 0, status

    def test_an_unread_body_is_never_taken_as_the_next_request(self):
        body = SMUGGLED
        cases = {
            "405 with a body": b"POST /healthz HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n",
            "404 with a body": b"POST /nowhere HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n",
            "GET with a body": b"GET /v1/word?word=11-1234/G HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n",
            "PUT with a body": b"PUT /v1/word HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n",
        }
        for name, head in cases.items():
            with self.subTest(name):
                got, _ = exchange(self.port, head % len(body) + body + ISBN.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
                self.assertEqual(len(got), 2, got)
                self.assertNotIn(b"ISSN", got[0][2] + got[1][2])
                self.assertEqual((got[1][0], json.loads(got[1][2])["label"]), (200, "ISBN"))
        chunked = (b"POST /healthz HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n%x\r\n" % len(body) + body +
                   b"\r\n0\r\n\r\n")
        got, _ = exchange(self.port, chunked + ISBN.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
        self.assertEqual([a[0] for a in got], [405, 200])
        self.assertIn(b"ISBN", got[1][2])

    def test_framing_doubts_get_400_and_the_connection_closed(self):
        h = b"Host: x\r\nContent-Type: text/plain\r\n"
        cases = {
            "TE and CL": b"POST /v1/word HTTP/1.1\r\n" + h + b"Transfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
            "two CL": b"POST /v1/word HTTP/1.1\r\n" + h + b"Content-Length: 3\r\nContent-Length: 10\r\n\r\nabc",
            "CL 3abc": b"POST /v1/word HTTP/1.1\r\n" + h + b"Content-Length: 3abc\r\n\r\nabc",
            "CL +3": b"POST /v1/word HTTP/1.1\r\n" + h + b"Content-Length: +3\r\n\r\nabc",
            "chunk longer than its size": b"POST /v1/word HTTP/1.1\r\n" + h + b"Transfer-Encoding: chunked\r\n\r\n3\r\nabcXYZ\r\n0\r\n\r\n",
            "chunk size 0x3": b"POST /v1/word HTTP/1.1\r\n" + h + b"Transfer-Encoding: chunked\r\n\r\n0x3\r\nabc\r\n0\r\n\r\n",
            "chunk size  3": b"POST /v1/word HTTP/1.1\r\n" + h + b"Transfer-Encoding: chunked\r\n\r\n 3\r\nabc\r\n0\r\n\r\n",
            "chunk size -2": b"POST /v1/word HTTP/1.1\r\n" + h + b"Transfer-Encoding: chunked\r\n\r\n-2\r\nab\r\n0\r\n\r\n",
            "space in the target": b"GET /v1/word?word=a b HTTP/1.1\r\nHost: x\r\n\r\n",
        }
        for name, data in cases.items():
            with self.subTest(name):
                got, closed = exchange(self.port, data + ISBN)
                self.assertEqual(len(got), 1, got)  # the valid request after it is never read
                self.assertIn(got[0][0], (400, 501))
                self.assertEqual(got[0][1].get("connection"), "close")
                self.assertTrue(closed)

    def test_requests_framed_well_are_answered_once_each_whatever_their_method(self):
        got, _ = exchange(self.port, b"FOO / HTTP/1.1\r\nHost: x\r\n\r\n" * 4 + ISBN.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
        self.assertEqual([a[0] for a in got], [501, 501, 501, 501, 200])

    def test_each_limit_has_its_status_and_closes(self):
        cases = [  # (name, bytes, status, code)
            ("request line", b"GET /v1/word?word=" + b"a" * 9000 + b" HTTP/1.1\r\nHost: x\r\n\r\n", 414, "uri_too_long"),
            ("header count", b"GET /healthz HTTP/1.1\r\nHost: x\r\n" + b"X-A: 1\r\n" * 101 + b"\r\n", 431, "headers_too_large"),
            ("header bytes", b"GET /healthz HTTP/1.1\r\nHost: x\r\n" + (b"X-A: " + b"a" * 8000 + b"\r\n") * 5 + b"\r\n",
             431, "headers_too_large"),
            ("chunked body over --max-body", b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n"
             b"Transfer-Encoding: chunked\r\n\r\n" + b"400\r\n" + b"a" * 1024 + b"\r\n" + b"1000\r\n" + b"a" * 4096 + b"\r\n0\r\n\r\n",
             413, "body_too_large"),
            ("Content-Length over --max-body", b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Length: 4097\r\n\r\n", 413,
             "body_too_large"),
            ("gzip body", b"POST /v1/batch HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\n"
             b"Content-Length: 20\r\n\r\n" + zlib.compress(b"{}" * 10)[:20], 415, "unsupported_encoding"),
            ("gzip, chunked", b"POST /v1/word HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", 501,
             "not_implemented"),
            ("HTTP/2.0", b"GET /healthz HTTP/2.0\r\nHost: x\r\n\r\n", 505, "http_version"),
        ]
        for name, data, status, code in cases:
            with self.subTest(name):
                got, closed = exchange(self.port, data + ISBN)
                self.assertEqual(len(got), 1, got)
                self.assertEqual((got[0][0], json.loads(got[0][2])["error"]["code"]), (status, code))
                self.assertEqual(got[0][1].get("connection"), "close")
                self.assertTrue(closed)

    def test_a_post_without_a_length_has_no_body_and_is_answered_at_once(self):
        got, _ = exchange(self.port, b"POST /v1/word?word=1234-5679 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", timeout=5)
        self.assertEqual([(a[0], json.loads(a[2])["label"]) for a in got], [(200, "ISSN")])

    def test_expect_100_continue_gets_continue_then_the_answer(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            s.sendall(b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nExpect: 100-continue\r\n"
                      b"Content-Length: 9\r\nConnection: close\r\n\r\n")
            self.assertEqual(s.recv(100), b"HTTP/1.1 100 Continue\r\n\r\n")
            s.sendall(b"1234-5679")
            got = ss.answers(ss.read_all(s))
        self.assertEqual([(a[0], json.loads(a[2])["label"]) for a in got], [(200, "ISSN")])

    def test_chunked_body_with_trailer_and_extension_is_read(self):
        data = (b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"
                b"4;ext=1\r\n1234\r\n5\r\n-5679\r\n0\r\nX-Trailer: 1\r\n\r\n")
        got, _ = exchange(self.port, data + ISBN.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
        self.assertEqual([(a[0], json.loads(a[2])["label"]) for a in got], [(200, "ISSN"), (200, "ISBN")])

    def test_keep_alive_timeout_advertised_is_never_longer_than_kept(self):
        got, _ = exchange(self.port, ISBN.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
        self.assertEqual(got[0][1].get("connection"), "close")
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            s.sendall(ISBN)
            head = s.recv(4096)
        self.assertIn(b"Keep-Alive: timeout=3\r\n", head)

    def test_parameters_split_at_the_first_equals_sign(self):
        status, doc = self.server.get_json("/v1/search", q="E=mc2", format="json")
        self.assertEqual((status, doc["query"], [i["word"] for i in doc["items"]]), (200, "E=mc2", ["E=mc2"]))
        status, _, body = self.server.request("GET", "/v1/word?word=9787111123453=x")
        self.assertEqual((status, json.loads(body)["word"]), (200, "9787111123453=x"))
        status, _, body = self.server.request("POST", "/v1/search", b"q=E=mc2&format=json",
                                              {"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual((status, json.loads(body)["query"]), (200, "E=mc2"))
        status, _, body = self.server.request("GET", "/v1/word?word=ab%uD800cd")
        self.assertEqual((status, json.loads(body)["word"]), (200, "ab%uD800cd"))

    def test_essay_spans_are_bytes_of_the_text_as_sent(self):
        for text in ["a・b", "玛丽・居里和列夫・托尔斯泰在北京。", "a―b"]:
            with self.subTest(text):
                sent = text.encode()
                status, _, body = self.server.request("POST", "/v1/essay", sent, {"Content-Type": "text/plain"})
                self.assertEqual(status, 200)
                words = json.loads(body)["words"]
                self.assertEqual(b"".join(sent[w["start"]:w["end"]] for w in words), sent)
                for w in words:
                    self.assertEqual(sent[w["start"]:w["end"]].decode(), w["text"])
                    self.assertEqual(text[w["char_start"]:w["char_end"]], w["text"])

    def test_invalid_utf8_anywhere_is_400_with_the_bytes_escaped(self):
        cases = [  # (method, target, body, content type, status, code)
            ("POST", "/v1/word", b'{"word":"\xff"}', "application/json", 400, "bad_json"),
            ("GET", "/v1/word?w%FFrd=1", None, None, 400, "unknown_parameter"),
            ("GET", "/v1/search?q=a&format=%FF", None, None, 400, "bad_value"),
            ("GET", "/v1/word?word=a&charset=%FF", None, None, 400, "bad_value"),
            ("GET", "/v1/w%FFord", None, None, 404, "not_found"),
        ]
        for method, target, body, content_type, status, code in cases:
            with self.subTest(target):
                got, _ = exchange(self.port, ("%s %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" % (method, target)).encode() +
                                  ((b"Content-Type: %s\r\nContent-Length: %d\r\n" % (content_type.encode(), len(body)))
                                   if body else b"") + b"\r\n" + (body or b""))
                self.assertEqual(len(got), 1)
                error = json.loads(got[0][2].decode("utf-8"))["error"]
                self.assertEqual((got[0][0], error["code"]), (status, code))
                self.assertIn("\\xFF", error["message"])

    def test_json_items_are_the_query_words_whatever_markup_they_hold(self):
        for q in ['</Sentence>\n<Items>\n\t<Word p="ISBN">x</Word>\n', 'a</Word>\n\t<Word p="ISBN">b', 'a</Word>\n\t<Word p="ISBN">b c']:
            with self.subTest(q):
                status, doc = self.server.get_json("/v1/search", q=q, format="json")
                self.assertEqual(status, 200)
                self.assertEqual(sorted({i["word_index"] for i in doc["items"]}), list(range(len(q.split(" ")))))
                for index, word in enumerate(q.split(" ")):
                    self.assertEqual("".join(i["word"] for i in doc["items"] if i["word_index"] == index), word)
                status, batch = self.server.post_json("/v1/batch", {"queries": [q], "format": "json"})
                self.assertEqual(batch["results"][0], doc)

    def test_media_types_are_compared_without_case_and_charset_may_be_quoted(self):
        for content_type in ["APPLICATION/JSON", "application/json; charset=UTF-8"]:
            status, _, body = self.server.request("POST", "/v1/word", b'{"word":"1234-5679"}', {"Content-Type": content_type})
            self.assertEqual((status, json.loads(body)["label"]), (200, "ISSN"))
        for content_type in ['text/plain; charset="utf-8"', "Text/Plain;charset=utf-8;x=y"]:
            status, _, body = self.server.request("POST", "/v1/word", b"1234-5679", {"Content-Type": content_type})
            self.assertEqual((status, json.loads(body)["label"]), (200, "ISSN"))


class Memory(unittest.TestCase):
    """With the default limits, one connection's flood leaves the worker's peak memory at most 64 MB."""

    def test_floods_from_one_connection_leave_the_worker_memory_bounded(self):
        if SANITIZED:
            self.skipTest("the sanitizers' own memory hides the worker's")
        server = ss.Server(TESQ, DATA_DIR, "--no-log", "--no-trace")
        try:
            worker = server.worker_pid()
            floods = {
                "request line of 300 MB": (b"GET /v1/word?word=", b"a" * (1 << 20), 300),
                "30,000 header lines of 8 KB": (b"GET /healthz HTTP/1.1\r\nHost: x\r\n", (b"X-Filler: " + b"a" * 8180 + b"\r\n") * 128, 235),
                "chunked body of 200 MB": (b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n",
                                           b"100000\r\n" + b"a" * (1 << 20) + b"\r\n", 200),
                "body without a length": (b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n\r\n", b"a" * (1 << 20), 50),
            }
            bomb = zlib.compressobj(9, zlib.DEFLATED, 31)
            gz = b"".join(bomb.compress(b"0" * (1 << 20)) for _ in range(1000)) + bomb.flush()
            floods["gzip bomb"] = (b"POST /v1/batch HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                                   b"Content-Encoding: gzip\r\nContent-Length: %d\r\n\r\n" % len(gz), gz, 1)
            for name, (head, block, count) in floods.items():
                with self.subTest(name):
                    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
                        try:
                            s.sendall(head)
                            for _ in range(count):
                                s.sendall(block)
                        except OSError:
                            pass  # refused and closed on the way: the point
                    self.assertEqual(server.get("/healthz")[0], 200)
                    self.assertLessEqual(peak_kb(worker), 64 * 1024, name)
            self.assertEqual(server.worker_pid(), worker)
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)


class Resources(unittest.TestCase):
    def test_an_idle_keep_alive_connection_is_still_answered_once_a_drain_begins(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-log", "--no-trace", "--keep-alive", "4000")
        try:
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
                s.sendall(ISBN)
                self.assertIn(b"ISBN", read_answer(s))
                server.signal(signal.SIGTERM)
                time.sleep(0.6)  # the drain has begun; the connection is idle
                s.sendall(SMUGGLED)
                got = ss.answers(ss.read_all(s))
            self.assertEqual([(a[0], json.loads(a[2])["label"], a[1].get("connection")) for a in got],
                             [(200, "ISSN", "close")])
            self.assertEqual(server.proc.wait(timeout=20), 0)
        finally:
            server.stop()
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_connections_waiting_in_the_backlog_at_sigterm_are_answered(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-log", "--no-trace")
        held = []
        try:
            worker = server.worker_pid()
            os.kill(worker, signal.SIGSTOP)  # nothing is accepted meanwhile
            for _ in range(5):
                s = socket.create_connection(("127.0.0.1", server.port), timeout=10)
                s.sendall(ISBN)
                held.append(s)
            server.signal(signal.SIGTERM)
            # The master passes SIGTERM on; the stopped worker holds it.
            deadline = time.monotonic() + 20
            while not signal_pending(worker, signal.SIGTERM):
                self.assertLess(time.monotonic(), deadline, "the master never passed SIGTERM on")
                time.sleep(0.01)
            os.kill(worker, signal.SIGCONT)
            for s in held:
                got = ss.answers(ss.read_all(s))
                self.assertEqual([(a[0], a[1].get("connection")) for a in got], [(200, "close")])
            self.assertEqual(server.proc.wait(timeout=30), 0)
        finally:
            for s in held:
                s.close()
            server.stop()
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_workers_that_keep_dying_are_replaced_ever_more_slowly(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-log", "--no-trace")
        try:
            pauses = []
            for n in range(1, 4):
                worker = server.worker_pid()
                os.kill(worker, signal.SIGKILL)
                self.assertTrue(server.wait_log('"event":"replaced"', timeout=60, count=n))
                line = [l for l in server.log_text().splitlines() if '"worker_died"' in l][-1]
                self.assertIn("killed by signal 9", line)
                pauses.append(int(line.split("starting another in ")[1].split(" ms")[0]))
            self.assertEqual(pauses, [100, 200, 400])
            self.assertEqual(server.get_json("/v1/word", word="1234-5679")[1]["label"], "ISSN")
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_master_outlives_its_stderr_reader(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-trace", stderr_pipe=True)
        try:
            server.proc.stderr.close()  # the reader goes away
            server.proc.stderr = None
            server.signal(signal.SIGHUP)  # the master logs "reload" into the closed pipe
            deadline = time.time() + 30
            while time.time() < deadline and server.get_json("/healthz")[1]["generation"] != 2:
                time.sleep(0.1)
            self.assertIsNone(server.proc.poll())
            self.assertEqual(server.get_json("/healthz")[1]["generation"], 2)
            status, doc = server.get_json("/v1/word", word="1234-5679")
            self.assertEqual((status, doc["label"]), (200, "ISSN"))
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_a_stalled_stderr_reader_blocks_no_request_and_drops_are_counted(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-trace", stderr_pipe=True)  # never read
        try:
            for _ in range(6):  # about 400 KB of log lines, against a pipe of 64 KB
                with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
                    for _ in range(500):
                        s.sendall(ISBN)
                        got = b""
                        while b"ISBN" not in got:
                            chunk = s.recv(4096)
                            self.assertTrue(chunk)
                            got += chunk
            text = server.get("/metrics")[2].decode()
            dropped = int(text.split("\ntesq_log_lines_dropped_total ")[1].split()[0])
            self.assertGreater(dropped, 0)
            self.assertIsNone(server.proc.poll())
        finally:
            server.proc.stderr.close()  # a drain must not wait on it either
            server.proc.stderr = None
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_a_file_size_limit_fails_writes_instead_of_killing_workers(self):
        server = ss.Server(TESQ, DATA_DIR, "--trace-max-bytes", "100000000", limits={resource.RLIMIT_FSIZE: 16 * 1024})
        try:
            worker = server.worker_pid()
            for i in range(400):  # about 22 KB of trace, past the limit
                self.assertEqual(server.get("/v1/search", q="计算机科学 张三 北京大学 %d" % i)[0], 200)
            self.assertGreaterEqual(os.path.getsize(os.path.join(server.workdir, "as.txt")), 15 * 1024)
            self.assertEqual(server.worker_pid(), worker)
            self.assertEqual(server.get_json("/healthz")[1]["generation"], 1)
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_running_out_of_descriptors_pauses_accepting_without_spinning(self):
        server = ss.Server(TESQ, DATA_DIR, "--max-connections", "100", "--no-trace", limits={resource.RLIMIT_NOFILE: 48})
        held = []
        try:
            worker = server.worker_pid()
            for _ in range(60):
                s = socket.socket()
                s.settimeout(5)
                s.connect(("127.0.0.1", server.port))  # the backlog takes them all
                held.append(s)
            time.sleep(0.5)
            before = cpu_ticks(worker)
            time.sleep(2)
            used = cpu_ticks(worker) - before
            self.assertLess(used, 60, "the worker used %d ticks in 2 s" % used)  # a spin takes about 180
            for s in held:
                s.close()
            held = []
            deadline = time.time() + 10
            while time.time() < deadline and '"event":"accept_failed"' not in server.log_text():
                time.sleep(0.1)
            self.assertIn('"event":"accept_failed"', server.log_text())
            self.assertEqual(server.get("/healthz")[0], 200)
        finally:
            for s in held:
                s.close()
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_a_thread_that_cannot_start_gets_its_connection_a_503(self):
        if SANITIZED:
            self.skipTest("the sanitizers reserve more address space than the limit")
        server = ss.Server(TESQ, DATA_DIR, "--max-connections", "1000", "--no-log", "--no-trace",
                           limits={resource.RLIMIT_AS: 1000 * 1000 * 1000})
        held = []
        try:
            worker = server.worker_pid()
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as kept:
                kept.sendall(ISBN)
                self.assertIn(b"ISBN", read_answer(kept))
                for _ in range(300):
                    held.append(socket.create_connection(("127.0.0.1", server.port), timeout=10))
                busy = 0
                for s in held[-20:]:  # past the threads to be had: answered 503 unasked
                    busy += ss.status_of(ss.read_all(s)) == 503
                self.assertGreater(busy, 0)
                kept.sendall(ISBN)
                self.assertIn(b"ISBN", read_answer(kept))
            for s in held:
                s.close()
            held = []
            time.sleep(0.5)  # their threads are free again
            self.assertEqual(server.worker_pid(), worker)
            self.assertRegex(server.get("/metrics")[2].decode(), r'tesq_errors_total\{code="no_thread"\} [1-9]')
        finally:
            for s in held:
                s.close()
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)


class Operations(unittest.TestCase):
    def test_a_link_named_as_the_trace_lock_is_not_followed(self):
        workdir = tempfile.mkdtemp(prefix="tesq-serve-test-")
        target = os.path.join(workdir, "elsewhere")
        os.symlink(target, os.path.join(workdir, "as.txt.lock"))
        server = ss.Server(TESQ, DATA_DIR, "--no-log", "--trace-max-bytes", "100", workdir=workdir)
        try:
            for i in range(5):
                self.assertEqual(server.get("/v1/search", q="计算机科学 %d" % i)[0], 200)
            self.assertFalse(os.path.exists(target))
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(workdir, ignore_errors=True)

    def test_the_ready_line_names_the_port_bound(self):
        workdir = tempfile.mkdtemp(prefix="tesq-serve-test-")
        log = open(os.path.join(workdir, "log"), "wb")
        env = dict(os.environ, TESQ_DATA_DIR=DATA_DIR)
        proc = subprocess.Popen([TESQ, "serve", "--listen", "127.0.0.1:0", "--no-trace", "--no-log"], stderr=log, env=env)
        try:
            deadline = time.time() + 60
            text = ""
            while time.time() < deadline and '"ready"' not in text:
                time.sleep(0.05)
                text = open(os.path.join(workdir, "log")).read()
            port = int(text.split("listening on 127.0.0.1:")[1].split(",")[0])
            self.assertNotEqual(port, 0)
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                s.sendall(b"GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                self.assertEqual(ss.status_of(ss.read_all(s)), 200)
        finally:
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(timeout=60), 0)
            log.close()
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    TESQ, DATA_DIR = ss.args_or_skip(sys.argv, __doc__)
    unittest.main(argv=sys.argv[:1], verbosity=2)
