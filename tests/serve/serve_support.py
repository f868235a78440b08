"""Starting and talking to `tesq serve` on loopback, for the serve tests.

Each server runs in its own temporary directory (its trace directory) on a
free loopback port; every wait is bounded.
"""
import http.client
import json
import os
import resource
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.parse

SKIP = 77


def args_or_skip(argv, usage):
    if len(argv) != 3:
        print(usage)
        raise SystemExit(2)
    tesq, data_dir = argv[1], os.environ.get("TESQ_DATA_DIR") or argv[2]
    if not os.path.exists(os.path.join(data_dir, "terms.db")):
        print("no term database in %s: build the data first (skipped)" % data_dir)
        raise SystemExit(SKIP)
    return os.path.abspath(tesq), os.path.abspath(data_dir)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """A running `tesq serve`; stop() sends SIGTERM and returns its status."""

    def __init__(self, tesq, data_dir, *options, workdir=None, limits=None, stderr_pipe=False, extra_env=None,
                 ready_timeout=60):
        """limits: {resource.RLIMIT_*: soft limit} for the server's processes;
        stderr_pipe: standard error is a pipe that this side never reads;
        extra_env: variables for the server besides TESQ_DATA_DIR (TESQ_DB, ...);
        ready_timeout: seconds the server may take to report ready."""
        self.workdir = workdir or tempfile.mkdtemp(prefix="tesq-serve-test-")
        self.port = free_port()
        self.log_path = os.path.join(self.workdir, "server.log")
        env = {k: v for k, v in os.environ.items() if k not in ("TESQ_DATA_DIR", "TESQ_DB")}
        env["TESQ_DATA_DIR"] = data_dir
        env.update(extra_env or {})
        self.log = open(self.log_path, "wb")

        def apply_limits():
            for which, soft in (limits or {}).items():
                resource.setrlimit(which, (soft, resource.getrlimit(which)[1]))

        self.proc = subprocess.Popen(
            [tesq, "serve", "--listen", "127.0.0.1:%d" % self.port, "--trace-dir", self.workdir] + list(options),
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE if stderr_pipe else self.log, env=env, cwd=self.workdir,
            preexec_fn=apply_limits if limits else None)
        deadline = time.time() + ready_timeout
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("server exited with %d: %s" % (self.proc.returncode, self.log_text()))
            if stderr_pipe:
                try:
                    if self.request("GET", "/healthz", timeout=2)[0] == 200:
                        return
                except OSError:
                    pass
            elif '"event":"ready"' in self.log_text():
                return
            time.sleep(0.05)
        raise RuntimeError("server not ready: " + self.log_text())

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_log(self, text, timeout=60, count=1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.log_text().count(text) >= count:
                return True
            time.sleep(0.05)
        return False

    def request(self, method, path, body=None, headers=None, timeout=30):
        """Returns (status, headers dict, body bytes)."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            resp = conn.getresponse()
            return resp.status, dict(resp.getheaders()), resp.read()
        finally:
            conn.close()

    def get(self, path, **params):
        query = urllib.parse.urlencode(params, quote_via=urllib.parse.quote)
        return self.request("GET", path + ("?" + query if query else ""))

    def get_json(self, path, **params):
        status, _, body = self.get(path, **params)
        return status, json.loads(body)

    def post_json(self, path, obj):
        status, _, body = self.request("POST", path, json.dumps(obj, ensure_ascii=False).encode("utf-8"),
                                       {"Content-Type": "application/json"})
        return status, json.loads(body)

    def raw(self, data, timeout=5):
        """Sends raw bytes on a new connection; returns what comes back until close or timeout."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(data)
            return read_all(s)

    def worker_pid(self):
        """The worker serving now (the master's one child outside a reload)."""
        with open("/proc/%d/task/%d/children" % (self.proc.pid, self.proc.pid)) as f:
            children = f.read().split()
        return int(children[-1]) if children else None

    def signal(self, sig):
        self.proc.send_signal(sig)

    def stop(self, timeout=60):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = self.proc.wait()
        self.log.close()
        if self.proc.stderr:
            self.proc.stderr.close()
        return status

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.workdir, ignore_errors=True)


def read_all(s):
    out = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            out += chunk
    except (socket.timeout, ConnectionResetError):
        pass
    return out


def status_of(raw_answer):
    """The status code of a raw HTTP answer, or None."""
    try:
        return int(raw_answer.split(b" ", 2)[1])
    except (IndexError, ValueError):
        return None


def answers(raw):
    """The answers in a stream of raw HTTP/1.1 answers, each as (status, headers, body); framing checked."""
    out = []
    while raw:
        head, sep, rest = raw.partition(b"\r\n\r\n")
        assert sep, "an answer without the end of its head: %r" % raw[:200]
        lines = head.split(b"\r\n")
        assert lines[0].startswith(b"HTTP/1.1 "), lines[0]
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(b":")
            name = name.lower().decode("latin-1")
            assert name not in headers, "header twice: %r" % name
            headers[name] = value.strip().decode("latin-1")
        if lines[0].split()[1] == b"100":  # an interim answer has no body
            raw = rest
            continue
        length = int(headers["content-length"])
        assert len(rest) >= length, "an answer shorter than its Content-Length"
        out.append((int(lines[0].split()[1]), headers, rest[:length]))
        raw = rest[length:]
    return out
