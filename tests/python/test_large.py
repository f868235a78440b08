"""Texts of 10 MB: the same words as tesq essay, which cuts the text into the same pieces, and at
most one piece held in GB2312 at a time."""
import json
import subprocess

import pytest

import tesqsrch
from tesqsrch import _core
from conftest import SANITIZED, TOOL, as_tesq_prints

TEN_MB = 10 * 1024 * 1024


def ten_megabytes(corpus):
    _, _, essays = corpus
    unit = "\n".join(e for e in essays if e) + "\n"
    return (unit * (TEN_MB // len(unit.encode("utf-8")) + 1))


def compare_with_tesq(text):
    proc = subprocess.Popen([TOOL, "essay", "--format", "json"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    import threading
    feeder = threading.Thread(target=lambda: (proc.stdin.write(text.encode("utf-8")), proc.stdin.close()))
    feeder.start()
    count = 0
    for token, line in zip(tesqsrch.iter_essay(text), proc.stdout):
        word = json.loads(line)
        assert (as_tesq_prints(token.text), token.tag, token.byte_start, token.byte_end) == \
            (word["text"], word["tag"], word["start"], word["end"]), count
        assert text[token.start:token.end] == token.text
        count += 1
    rest = proc.stdout.read()
    feeder.join()
    assert proc.wait() == 0
    assert rest == b""
    return count


@pytest.mark.skipif(SANITIZED, reason="10 MB through the sanitizers takes too long for the suite")
def test_ten_megabytes_equal_tesq(corpus):
    text = ten_megabytes(corpus)
    assert len(text.encode("utf-8")) >= TEN_MB
    assert compare_with_tesq(text) > 0


PIECE_TEXTS = {
    "no place to cut but a character boundary": "中" * 100000,
    "after punctuation": "甲乙，" * 20000,
    "one byte and two byte characters": "a" * 70000 + "中" * 40000,
    "after white space": "中文 " * 30000,
    "after a line feed": "中文\n" * 30000,
    "a line feed in the first half only": "中文\n" + "中" * 70000,
}


@pytest.mark.parametrize("name", PIECE_TEXTS)
def test_pieces_equal_tesq(name):
    compare_with_tesq(PIECE_TEXTS[name])


def test_one_piece_in_gb2312_at_a_time(monkeypatch, corpus):
    sizes = []
    encode = _core._encode

    def recording(text, offset=0):
        data = encode(text, offset)
        sizes.append(len(data))
        return data

    monkeypatch.setattr(_core, "_encode", recording)
    text = ten_megabytes(corpus)[:3 * 1024 * 1024]
    tokens = sum(1 for _ in tesqsrch.iter_essay(text))
    assert tokens > 0
    assert len(sizes) > 10
    assert max(sizes) <= tesqsrch.PIECE_BYTES
