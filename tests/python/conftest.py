"""Shared set-up of the Python package's tests: the built data (TESQ_DATA_DIR, else the build's
data directory), the build's tesq for the answers to compare with, a working directory of its own
for the trace file as.txt, and the corpus of words, queries and essays."""
import os
import random
import re
import subprocess
import sys

import pytest

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


def _lines(path, column):
    with open(path, encoding="utf-8") as f:
        return [w for w in (column(line) for line in f if line.strip() and not line.startswith("#"))
                if w and " " not in w]


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
    """(words, queries, essays): words drawn from the term list, the place and name dictionaries and
    the lexicon, standard numbers; queries of one to four of them; essays from fortunes-zh."""
    rng = random.Random(20261210)
    root = os.path.join(os.path.dirname(__file__), "..", "..")
    terms = _lines(os.path.join(root, "data", "terms.tsv"), lambda l: l.split("\t")[0])
    places = _lines(os.path.join(DATA_DIR, "place.txt"), lambda l: l.split("\t")[0])
    lexicon = _lines(os.path.join(DATA_DIR, "segmenter.txt"), lambda l: l.split(" ")[0])
    surnames = [w for w in _lines(os.path.join(DATA_DIR, "name_dic.txt"), lambda l: l.split("\t")[0])
                if len(w) == 1]
    numbers = ["9787111123453", "7-111-12345-X", "1234-5679", "11-1234/G", "CN201010123456.7", "12345"]

    def word():
        kind = rng.random()
        if kind < 0.15:
            return rng.choice(terms)
        if kind < 0.35:
            return rng.choice(places)
        if kind < 0.55:  # a name, sometimes followed by more text (a leading name and its rest)
            name = rng.choice(surnames) + "".join(rng.choice(lexicon)[:1] for _ in range(rng.randint(1, 2)))
            return name + (rng.choice(lexicon) if rng.random() < 0.3 else "")
        if kind < 0.6:
            return rng.choice(numbers)
        return rng.choice(lexicon)

    count = 40 if SANITIZED else 200
    words = [w for w in (word() for _ in range(count)) if not w.startswith("-")]
    queries = [" ".join(word() for _ in range(rng.randint(1, 4))) for _ in range(count)]
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
