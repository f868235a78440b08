"""Shared set-up of the Python package's tests: the built data (TESQ_DATA_DIR, else the build's
data directory), the build's tesq for the answers to compare with, a working directory of its own
for the trace file as.txt, and the corpus of words, queries and essays."""
import os
import random
import re
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "serve"))
import serve_equality_test as corpus_source  # noqa: E402  the words and queries tesq serve is checked on

SKIP = 77

DATA_DIR = os.environ.get("TESQ_DATA_DIR") or os.environ.get("TESQ_TEST_DATA_DIR", "")
TOOL = os.environ.get("TESQ_TEST_TOOL", "")
README = os.environ.get("TESQ_TEST_README") or os.path.join(os.path.dirname(__file__), "..", "..", "README.md")
SANITIZED = bool(os.environ.get("TESQ_SANITIZED"))
FORTUNES = "/usr/share/games/fortunes"


def pytest_configure(config):
    if not DATA_DIR or not os.path.exists(os.path.join(DATA_DIR, "terms.db")):
        pytest.exit(f"no built data in '{DATA_DIR}' (terms.db): skipped", returncode=SKIP)
    os.environ["TESQ_DATA_DIR"] = DATA_DIR
    os.environ.pop("TESQ_DB", None)


@pytest.fixture(autouse=True, scope="session")
def _workdir(tmp_path_factory):
    """Queries trace into as.txt in the current directory: not the source tree's."""
    here = os.getcwd()
    os.chdir(tmp_path_factory.mktemp("work"))
    yield
    os.chdir(here)


def tesq(*args, stdin=None):
    """Runs the build's tesq: (exit status, standard output as UTF-8 text, standard error)."""
    proc = subprocess.run([TOOL] + list(args), input=stdin, capture_output=True, timeout=600)
    return proc.returncode, proc.stdout.decode("utf-8"), proc.stderr.decode("utf-8")


def run_python(code, env=None, timeout=120):
    """Runs `code` in a new interpreter with this environment changed by `env` (None removes)."""
    environment = dict(os.environ)
    for key, value in (env or {}).items():
        if value is None:
            environment.pop(key, None)
        else:
            environment[key] = value
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=environment,
                          timeout=timeout)


def gb2312_only(text):
    """The text with every character that has no GB2312 form, and escape sequences, made spaces."""
    text = re.sub("\x1b\\[[0-9;]*m", "", text)
    return "".join(ch if ch in "\n\t" or (ch >= " " and _encodable(ch)) else " " for ch in text)


def _encodable(ch):
    try:
        ch.encode("gb2312")
        return True
    except UnicodeEncodeError:
        return ch in "\u00b7\u2014"


@pytest.fixture(scope="session")
def corpus():
    """(words, queries, essays): the words and queries tesq serve's answers are checked on (terms,
    places, names, lexicon words, standard numbers), and essays from fortunes-zh."""
    rng = random.Random(20261210)
    corpus_source.COUNT = 40 if SANITIZED else 200
    words, queries = corpus_source.corpus(DATA_DIR, rng)
    essays = []
    for name in ("chinese", "tang300", "song100"):
        path = os.path.join(FORTUNES, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                essays += [gb2312_only(e).strip("\n") for e in f.read().split("\n%\n") if e.strip()]
    essays = rng.sample(essays, min(len(essays), 20 if SANITIZED else 100))
    essays += ["王小明在北京大学图书馆工作。", "", " ", "\n\n", "a", "中", "ab  cd\r\n\t·—"]
    return words, queries, essays


def as_tesq_prints(text):
    """A token's text as tesq prints it: the token keeps the characters given, tesq decodes the
    GB2312 bytes, which read U+30FB and U+2015 as U+00B7 and U+2014."""
    return text.translate({0x30FB: 0x00B7, 0x2015: 0x2014})
