#!/usr/bin/python3
"""tesq serve on loopback: every endpoint, every error answer, slow clients,
the connection limit, trace rotation and --no-trace, the reload (good and
broken data) and the drain on SIGTERM.

usage: serve_endpoints_test.py TESQ DATA_DIR
"""
import http.client
import json
import os
import shutil
import signal
import socket
import sys
import tempfile
import threading
import time
import unittest

import serve_support as ss

TESQ = DATA_DIR = ""

WORDS = [("计算机科学", "主题词"), ("9787111123453", "ISBN"), ("1234-5679", "ISSN"), ("11-1234/G", "CN")]


class Endpoints(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = ss.Server(TESQ, DATA_DIR, "--max-body", "4096", "--timeout", "800", "--keep-alive", "1000")

    @classmethod
    def tearDownClass(cls):
        status = cls.server.stop()
        shutil.rmtree(cls.server.workdir, ignore_errors=True)
        assert status == 0, status

    def test_word_by_get_post_form_json_and_text(self):
        for word, label in WORDS:
            self.assertEqual(self.server.get_json("/v1/word", word=word),
                             (200, {"word": word, "label": label, "result": 0}))
            self.assertEqual(self.server.post_json("/v1/word", {"word": word})[1]["label"], label)
            status, _, body = self.server.request("POST", "/v1/word", ("word=" + word).encode(),
                                                  {"Content-Type": "application/x-www-form-urlencoded"})
            self.assertEqual((status, json.loads(body)["label"]), (200, label))
            status, _, body = self.server.request("POST", "/v1/word", word.encode(), {"Content-Type": "text/plain"})
            self.assertEqual((status, json.loads(body)["label"]), (200, label))

    def test_word_without_category_gives_result_3_and_no_label(self):
        self.assertEqual(self.server.get_json("/v1/word", word="xyz"),
                         (200, {"word": "xyz", "label": None, "result": 3}))

    def test_gb2312_charset_passes_raw_bytes(self):
        gb = "计算机科学".encode("gb2312")
        status, _, body = self.server.request("POST", "/v1/word?charset=gb2312", gb, {"Content-Type": "text/plain"})
        self.assertEqual((status, json.loads(body)["label"]), (200, "主题词"))
        status, headers, body = self.server.request("POST", "/v1/search", gb,
                                                    {"Content-Type": "text/plain; charset=gb2312"})
        self.assertEqual(status, 200)
        self.assertIn("gb2312", headers["Content-Type"])
        self.assertIn('<Word p="主题词">计算机科学</Word>'.encode("gb2312"), body)

    def test_search_xml_and_json_with_a_prefix_split(self):
        status, headers, body = self.server.get("/v1/search", q="张三丰大学 9787111123453")
        self.assertEqual(status, 200)
        self.assertTrue(headers["Content-Type"].startswith("application/xml"))
        text = body.decode("utf-8")
        self.assertIn("<Sentence>张三丰大学 9787111123453</Sentence>", text)
        self.assertIn('\t<Word p="人名">张三丰</Word>\n\t<Word p="全文">大学</Word>\n', text)
        status, doc = self.server.get_json("/v1/search", q="张三丰大学 9787111123453", format="json")
        self.assertEqual(status, 200)
        self.assertEqual(doc["items"], [{"word": "张三丰", "label": "人名", "word_index": 0},
                                        {"word": "大学", "label": "全文", "word_index": 0},
                                        {"word": "9787111123453", "label": "ISBN", "word_index": 1}])

    def test_essay_words_with_tags_and_byte_and_character_spans(self):
        text = "张三在北京大学学习。"
        status, doc = self.server.post_json("/v1/essay", {"text": text})
        self.assertEqual(status, 200)
        words = doc["words"]
        self.assertEqual("".join(w["text"] for w in words), text)
        raw = text.encode("utf-8")
        for w in words:
            self.assertEqual(raw[w["start"]:w["end"]].decode("utf-8"), w["text"])
            self.assertEqual(text[w["char_start"]:w["char_end"]], w["text"])
        self.assertIn({"text": "北京大学", "tag": 23, "tag_name": "organisation"},
                      [{k: w[k] for k in ("text", "tag", "tag_name")} for w in words])

    def test_batch_of_words_and_of_queries(self):
        status, doc = self.server.post_json("/v1/batch", {"words": [w for w, _ in WORDS] + ["a\u20acb"]})
        self.assertEqual(status, 200)
        self.assertEqual([r.get("label") for r in doc["results"][:-1]], [l for _, l in WORDS])
        self.assertEqual(doc["results"][-1]["error"]["code"], "no_gb2312_form")
        status, doc = self.server.post_json("/v1/batch", {"queries": ["计算机科学 1234-5679"], "format": "json"})
        self.assertEqual([i["label"] for i in doc["results"][0]["items"]], ["主题词", "ISSN"])
        status, doc = self.server.post_json("/v1/batch", {"queries": ["计算机科学"]})
        self.assertIn('<Word p="主题词">计算机科学</Word>', doc["results"][0]["xml"])

    def test_healthz_and_metrics(self):
        self.assertEqual(self.server.get_json("/healthz"), (200, {"status": "ready", "generation": 1}))
        self.server.get("/v1/word", word="计算机科学")
        self.server.get("/nope")
        status, headers, body = self.server.get("/metrics")
        text = body.decode()
        self.assertEqual(status, 200)
        self.assertRegex(text, r'tesq_requests_total\{endpoint="/v1/word",status="200"\} [1-9]')
        self.assertRegex(text, r'tesq_requests_total\{endpoint="other",status="404"\} [1-9]')
        self.assertRegex(text, r'tesq_request_duration_seconds_bucket\{endpoint="/v1/word",le="\+Inf"\} [1-9]')
        self.assertRegex(text, r'tesq_errors_total\{code="not_found"\} [1-9]')
        self.assertIn("tesq_in_flight_requests 1\n", text)  # this request

    def test_bad_input_is_400_naming_the_fault_the_parameter_and_the_byte(self):
        cases = [  # (raw query string, code, parameter, offset)
            ("word=ab%FFc", "malformed_utf8", "word", 2),
            ("word=%E8%AE", "malformed_utf8", "word", 0),
            ("word=ab%E2%82%AC", "no_gb2312_form", "word", 2),
            ("word=a%00b", "nul", "word", 1),
            ("", "missing_parameter", "word", None),
            ("word=x&colour=red", "unknown_parameter", "colour", None),
            ("word=x&charset=latin1", "bad_value", "charset", None),
        ]
        for query, code, parameter, offset in cases:
            with self.subTest(query=query):
                status, _, body = self.server.request("GET", "/v1/word?" + query)
                error = json.loads(body)["error"]
                self.assertEqual((status, error["code"], error.get("parameter"), error.get("offset")),
                                 (400, code, parameter, offset))
        status, _, body = self.server.request("POST", "/v1/word", b"{not json", {"Content-Type": "application/json"})
        self.assertEqual((status, json.loads(body)["error"]["code"]), (400, "bad_json"))
        status, doc = self.server.get_json("/v1/search", q="x", format="yaml")
        self.assertEqual((status, doc["error"]["parameter"]), (400, "format"))

    def test_unknown_endpoint_404_and_wrong_method_405(self):
        status, _, body = self.server.request("GET", "/v2/word")
        self.assertEqual((status, json.loads(body)["error"]["code"]), (404, "not_found"))
        for method, path, allow in [("PUT", "/v1/word", "GET, POST"), ("GET", "/v1/batch", "POST"),
                                    ("DELETE", "/healthz", "GET")]:
            status, headers, body = self.server.request(method, path)
            self.assertEqual((status, headers.get("Allow"), json.loads(body)["error"]["code"]),
                             (405, allow, "method_not_allowed"))

    def test_playground_page_at_root_and_playground(self):
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "tesq", "serve",
                               "playground", "playground.html"), "rb") as f:
            source = f.read()
        for path in ["/", "/playground", "/?q=%E5%BC%A0%E4%B8%89"]:
            with self.subTest(path=path):
                status, headers, body = self.server.request("GET", path)
                self.assertEqual((status, headers["Content-Type"], body), (200, "text/html; charset=utf-8", source))
                policy = headers["Content-Security-Policy"]
                self.assertIn("default-src 'none'", policy)
                self.assertIn("connect-src 'self'", policy)
                self.assertEqual(headers["X-Content-Type-Options"], "nosniff")
        for method in ["POST", "HEAD", "PUT"]:
            status, headers, _ = self.server.request(method, "/")
            self.assertEqual((status, headers.get("Allow")), (405, "GET"))
        self.assertEqual(self.server.request("GET", "/playground/")[0], 404)

    def test_no_playground_makes_the_page_404_and_leaves_the_endpoints(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-playground", "--no-trace")
        try:
            for path in ["/", "/playground", "/?q=x"]:
                status, _, body = server.request("GET", path)
                self.assertEqual((status, json.loads(body)["error"]["code"]), (404, "not_found"))
            self.assertEqual(server.get_json("/v1/word", word="1234-5679")[1]["label"], "ISSN")
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_body_over_the_limit_is_413(self):
        status, _, body = self.server.request("POST", "/v1/essay", "字".encode() * 2000, {"Content-Type": "text/plain"})
        self.assertEqual((status, json.loads(body)["error"]["code"]), (413, "body_too_large"))

    def test_slow_client_is_cut_off_with_408_while_others_are_answered(self):
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=5) as slow:
            start = time.time()
            for ch in b"GET /v1/word?word=x HT":  # one byte every 0.1 s, never finished in time
                try:
                    slow.send(bytes([ch]))
                except OSError:
                    break
                # another client is answered meanwhile
                if ch == ord("v"):
                    self.assertEqual(self.server.get_json("/v1/word", word="计算机科学")[0], 200)
                time.sleep(0.1)
            answer = ss.read_all(slow)
            self.assertEqual(ss.status_of(answer), 408)
            self.assertLess(time.time() - start, 4)

    def test_connections_accepted_together_are_all_answered_at_once(self):
        # Connections arriving in a burst are accepted in one go; each must
        # get a thread then, not wait for another kept-alive connection to end.
        request = b"GET /v1/word?word=1234-5679 HTTP/1.1\r\nHost: x\r\n\r\n"
        for _ in range(20):
            held = []
            try:
                for _ in range(24):
                    s = socket.socket()
                    s.setblocking(False)
                    s.connect_ex(("127.0.0.1", self.server.port))
                    held.append(s)
                for s in held:
                    s.setblocking(True)
                    s.settimeout(2)
                    s.sendall(request)
                start = time.time()
                for s in held:
                    answer = b""
                    while b'"label":"ISSN"' not in answer:
                        chunk = s.recv(4096)
                        self.assertTrue(chunk)
                        answer += chunk
                self.assertLess(time.time() - start, 0.5)
            finally:
                for s in held:
                    s.close()

    def test_pipelined_keep_alive_requests_are_all_answered(self):
        one = b"GET /v1/word?word=1234-5679 HTTP/1.1\r\nHost: x\r\n\r\n"
        answer = self.server.raw(one * 3 + b"GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        self.assertEqual(answer.count(b'"label":"ISSN"'), 3)
        self.assertEqual(answer.count(b"HTTP/1.1 200"), 4)


class Limits(unittest.TestCase):
    def test_connections_beyond_the_limit_get_503_with_retry_after(self):
        server = ss.Server(TESQ, DATA_DIR, "--max-connections", "2", "--timeout", "3000")
        try:
            held = [socket.create_connection(("127.0.0.1", server.port), timeout=5) for _ in range(2)]
            time.sleep(0.2)
            answer = server.raw(b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n")
            self.assertEqual(ss.status_of(answer), 503)
            self.assertIn(b"Retry-After: 1\r\n", answer)
            for s in held:
                s.close()
            time.sleep(0.3)
            self.assertEqual(server.get("/healthz")[0], 200)
            self.assertRegex(server.get("/metrics")[2].decode(), r'tesq_errors_total\{code="overloaded"\} 1\n')
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)

    def test_trace_is_rotated_keeping_n_files_and_no_trace_writes_none(self):
        server = ss.Server(TESQ, DATA_DIR, "--trace-max-bytes", "300", "--trace-keep", "2", "--no-log")
        try:
            for i in range(40):
                self.assertEqual(server.get("/v1/search", q="计算机科学 张三 %d" % i)[0], 200)
            names = sorted(n for n in os.listdir(server.workdir) if n.startswith("as.txt"))
            self.assertEqual(names, ["as.txt", "as.txt.1", "as.txt.2", "as.txt.lock"])
            for n in names[:-1]:
                self.assertLess(os.path.getsize(os.path.join(server.workdir, n)), 600)
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)
        workdir = tempfile.mkdtemp(prefix="tesq-serve-test-")
        server = ss.Server(TESQ, DATA_DIR, "--no-trace", workdir=workdir)
        try:
            self.assertEqual(server.get("/v1/search", q="计算机科学")[0], 200)
            self.assertEqual(sorted(os.listdir(workdir)), ["server.log"])
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(workdir, ignore_errors=True)

    def test_a_rotation_that_fails_is_logged_once_and_the_trace_is_rotated_once_it_can_be(self):
        # A directory as.txt.1 (not empty) takes no rename, even by root.
        workdir = tempfile.mkdtemp(prefix="tesq-serve-test-")
        blocker = os.path.join(workdir, "as.txt.1")
        os.mkdir(blocker)
        open(os.path.join(blocker, "kept"), "w").close()
        server = ss.Server(TESQ, DATA_DIR, "--trace-max-bytes", "100", "--trace-keep", "1", workdir=workdir)
        try:
            for i in range(10):
                self.assertEqual(server.get("/v1/search", q="计算机科学 %d" % i)[0], 200)
            self.assertTrue(server.wait_log('"event":"trace_rotation_failed"'))
            self.assertEqual(server.get("/healthz")[0], 200)  # the log is written up to here
            time.sleep(0.3)
            failed = [l for l in server.log_text().splitlines() if '"trace_rotation_failed"' in l]
            self.assertEqual(len(failed), 1, failed)
            self.assertIn("as.txt cannot be renamed to as.txt.1", failed[0])
            self.assertGreater(os.path.getsize(os.path.join(workdir, "as.txt")), 100)
            shutil.rmtree(blocker)
            self.assertEqual(server.get("/v1/search", q="计算机科学")[0], 200)
            # That search's words went to as.txt, then the check after it
            # renamed the whole trace aside.
            self.assertTrue(os.path.isfile(blocker))
            self.assertFalse(os.path.exists(os.path.join(workdir, "as.txt")))
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(workdir, ignore_errors=True)


class Lifecycle(unittest.TestCase):
    def test_reload_with_good_and_broken_data_drops_no_request(self):
        data = tempfile.mkdtemp(prefix="tesq-serve-data-")
        shutil.copytree(DATA_DIR, data, dirs_exist_ok=True)
        server = ss.Server(TESQ, data, "--no-log")
        failures, answered = [], [0]
        stop = threading.Event()

        def load():
            while not stop.is_set():
                try:
                    status, doc = server.get_json("/v1/word", word="计算机科学")
                    if (status, doc.get("label")) != (200, "主题词"):
                        failures.append((status, doc))
                    answered[0] += 1
                except Exception as e:  # a dropped request
                    failures.append(repr(e))

        threads = [threading.Thread(target=load) for _ in range(4)]
        try:
            for t in threads:
                t.start()
            server.signal(signal.SIGHUP)
            self.assertTrue(server.wait_log('"event":"reloaded"'))
            deadline = time.time() + 10
            while server.get_json("/healthz")[1]["generation"] != 2 and time.time() < deadline:
                time.sleep(0.05)
            self.assertEqual(server.get_json("/healthz")[1]["generation"], 2)
            os.rename(os.path.join(data, "place.vdic"), os.path.join(data, "place.vdic.away"))
            server.signal(signal.SIGHUP)
            self.assertTrue(server.wait_log('"event":"reload_failed"'))
            self.assertIn("Tesquin_Init -6", server.log_text())
            time.sleep(0.3)
            self.assertEqual(server.get_json("/healthz")[1]["generation"], 2)
            self.assertEqual(server.get_json("/v1/word", word="张三")[0], 200)
        finally:
            stop.set()
            for t in threads:
                t.join()
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)
            shutil.rmtree(data, ignore_errors=True)
        self.assertEqual(failures, [])
        self.assertGreater(answered[0], 20)

    def test_keep_alive_connections_lose_no_request_across_reloads(self):
        # A drain that begins while a keep-alive answer is being written must
        # still answer the request the client sends next on that connection.
        server = ss.Server(TESQ, DATA_DIR, "--no-log", "--no-trace")
        failures, answered = [], [0]
        stop = threading.Event()

        def load():
            conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
            while not stop.is_set():
                try:
                    conn.request("GET", "/v1/word?word=1234-5679")
                    resp = conn.getresponse()
                    body = resp.read()
                    if resp.status != 200 or b'"label":"ISSN"' not in body:
                        failures.append((resp.status, body))
                    answered[0] += 1
                except Exception as e:  # a request the server closed without answering
                    failures.append(repr(e))
                    conn.close()
            conn.close()

        threads = [threading.Thread(target=load) for _ in range(6)]
        reloads = 8
        try:
            for t in threads:
                t.start()
            for n in range(1, reloads + 1):
                server.signal(signal.SIGHUP)
                self.assertTrue(server.wait_log('"event":"reloaded"', count=n))
                time.sleep(0.2)
        finally:
            stop.set()
            for t in threads:
                t.join()
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(server.workdir, ignore_errors=True)
        self.assertEqual(failures, [])
        self.assertGreater(answered[0], 100)

    def test_sigterm_drains_a_request_in_flight_then_exits_0(self):
        server = ss.Server(TESQ, DATA_DIR, "--no-log")
        try:
            body = "word=计算机科学".encode()
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
                s.sendall(b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          b"Content-Length: %d\r\n\r\n" % len(body) + body[:5])
                time.sleep(0.2)
                server.signal(signal.SIGTERM)
                time.sleep(0.3)
                self.assertIsNone(server.proc.poll())  # still draining
                s.sendall(body[5:])
                answer = ss.read_all(s)
            self.assertEqual(ss.status_of(answer), 200)
            self.assertIn('"label":"主题词"'.encode(), answer)
            self.assertIn(b"Connection: close", answer)
            self.assertEqual(server.proc.wait(timeout=10), 0)
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", server.port), timeout=2).close()
        finally:
            server.stop()
            shutil.rmtree(server.workdir, ignore_errors=True)


if __name__ == "__main__":
    TESQ, DATA_DIR = ss.args_or_skip(sys.argv, __doc__)
    unittest.main(argv=sys.argv[:1], verbosity=2)
