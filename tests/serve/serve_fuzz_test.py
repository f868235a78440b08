#!/usr/bin/python3
"""A bad-request fuzzer for tesq serve's HTTP layer: random bytes and
mutations of well-formed requests (bytes flipped, cut, repeated, spliced,
odd lengths and headers), raw on the socket, from several connections at
once. Every answer must be well framed, and no connection may get more
answers than it sent request lines. After every round a well-formed request
must get its right answer, and the server must stay up to exit 0 on SIGTERM. Bounded by a request count and
a time limit; prints how many requests were sent.

usage: serve_fuzz_test.py TESQ DATA_DIR  (SERVE_FUZZ_REQUESTS, SERVE_FUZZ_SECONDS)
"""
import concurrent.futures
import os
import random
import shutil
import socket
import sys
import time

import serve_support as ss

REQUESTS = int(os.environ.get("SERVE_FUZZ_REQUESTS", "4000"))
SECONDS = float(os.environ.get("SERVE_FUZZ_SECONDS", "25"))

SEEDS = [
    b"GET /v1/word?word=%E8%AE%A1%E7%AE%97%E6%9C%BA%E7%A7%91%E5%AD%A6 HTTP/1.1\r\nHost: x\r\n\r\n",
    b"POST /v1/word HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 15\r\n\r\n{\"word\":\"abc\"}",
    b"POST /v1/search HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n\r\nabc 12345",
    b"POST /v1/essay HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nContent-Type: text/plain\r\n\r\n"
    b"5\r\nhello\r\n0\r\n\r\n",
    b"POST /v1/batch HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 27\r\n\r\n"
    b"{\"queries\":[\"a b\",\"c\",\"\"]}",
    b"GET /v1/search?q=a%20b&format=json&charset=gb2312 HTTP/1.0\r\n\r\n",
    b"GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
]
TOKENS = [b"\r\n", b"\r\n\r\n", b" ", b"%", b"%00", b"%FF", b"\x00", b"\xff", b"Content-Length: 99999999999\r\n",
          b"Content-Length: -1\r\n", b"Transfer-Encoding: chunked\r\n", b"Expect: 100-continue\r\n", b"HTTP/9.9",
          b"?", b"&", b"=", b"{", b"}", b"\"", b"[", b"\\u0000", b"\xe8\xae", b"Range: bytes=0-1\r\n",
          b"Connection: keep-alive\r\n", b"Host:\r\n", b"A" * 9000, b"/" * 300, b"\t"]


def mutate(rng, data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 6)):
        op = rng.randrange(6)
        at = rng.randrange(len(data) + 1)
        if op == 0 and data:
            data[min(at, len(data) - 1)] = rng.randrange(256)
        elif op == 1:
            del data[at:at + rng.randint(1, 20)]
        elif op == 2:
            data[at:at] = rng.choice(TOKENS)
        elif op == 3:
            data[at:at] = data[at:at + rng.randint(1, 40)] * rng.randint(2, 20)
        elif op == 4:
            data[at:at] = rng.choice(SEEDS)
        else:
            data = data[:at]
    return bytes(data)


def one(port, rng):
    kind = rng.random()
    if kind < 0.1:
        data = bytes(rng.randrange(256) for _ in range(rng.randint(1, 2000)))
    elif kind < 0.2:
        data = b"".join(rng.choice(SEEDS) for _ in range(rng.randint(2, 5)))  # pipelined, well formed
    else:
        data = mutate(rng, rng.choice(SEEDS))
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=3) as s:
            s.sendall(data)
            if rng.random() < 0.8:
                s.shutdown(socket.SHUT_WR)
            answer = ss.read_all(s)
    except OSError:
        return None  # the server may reset a connection it refused; that is an answer too
    # Every answer is framed by its Content-Length, and no request is
    # answered twice: there are never more answers than request lines sent
    # (a body taken as a request would add one).
    try:
        got = ss.answers(answer)
    except (AssertionError, ValueError, KeyError, IndexError) as e:
        return "an answer not well framed (%s): %r for %r" % (e, answer[:200], data[:200])
    for status, headers, _ in got[:-1]:
        if headers.get("connection") == "close":
            return "an answer after one with Connection: close: %r" % data[:300]
    # The last answer may be the refusal of bytes that are no request at all.
    answered = len(got) - (1 if got and got[-1][0] >= 400 and got[-1][1].get("connection") == "close" else 0)
    if answered > data.count(b" HTTP/1."):
        return "%d answers to %d request lines: %r" % (len(got), data.count(b" HTTP/1."), data[:300])
    return None


def main():
    tesq, data_dir = ss.args_or_skip(sys.argv, __doc__)
    server = ss.Server(tesq, data_dir, "--no-log", "--no-trace", "--timeout", "300", "--keep-alive", "100", "--max-body", "65536",
                       "--max-connections", "64")
    rng = random.Random(1209)
    sent, problems, start = 0, [], time.time()
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=16) as pool:
            while sent < REQUESTS and time.time() - start < SECONDS:
                batch = min(200, REQUESTS - sent)
                seeds = [rng.randrange(1 << 30) for _ in range(batch)]
                problems += [p for p in pool.map(lambda s: one(server.port, random.Random(s)), seeds) if p]
                sent += batch
                status, doc = server.get_json("/v1/word", word="计算机科学")
                if (status, doc.get("label")) != (200, "主题词"):
                    problems.append("well-formed request answered %d %r after %d requests" % (status, doc, sent))
                if server.proc.poll() is not None:
                    problems.append("the server exited after %d requests" % sent)
                    break
    finally:
        status = server.stop()
        shutil.rmtree(server.workdir, ignore_errors=True)
    for p in problems[:20]:
        print(p)
    print("%d fuzzed requests in %.1f s; %d problems; server exit %d" % (sent, time.time() - start, len(problems), status))
    return 1 if problems or status != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
