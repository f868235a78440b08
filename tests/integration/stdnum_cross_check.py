#!/usr/bin/python3
"""Cross-checks the library's ISBN and ISSN verdicts against python-stdnum.

python-stdnum (stdnum.isbn.is_valid, stdnum.issn.is_valid) is an independent
implementation of the same check-character arithmetic. A seeded,
deterministic generator makes candidate words (right and wrong check
characters, 978/979/977 and other prefixes, X and x in and out of the check
position, lengths 8, 9, 10, 13 and 17, hyphenated layouts with every group
size, letters, stray bytes, and the same strings behind the prefixes
ISBN/ISSN/CN in any case). Every word goes through Tesquin_Search_Singleword
of the real libtesqsrch (via the stdnum_probe program) with an empty term
table, and the verdicts are compared:

  * the string the ISBN/ISSN validators judge is the whole word (first byte a
    digit, or anything but the prefixes), or what follows ISBN/ISSN;
  * a word labelled "CN" or "专利号" was decided before the ISBN and ISSN
    validators were asked: it is counted, not compared;
  * plain printable ASCII (no hyphen, no space): the verdicts agree exactly,
    except that python-stdnum pads a 9-character string to an ISBN-10 and
    accepts an ISBN-10 whose weighted sum is 0 (0000000000); the library
    rejects both;
  * with a hyphen or space: every string the library accepts is valid to
    python-stdnum (the library accepts fewer layouts);
  * with a byte outside printable ASCII: the library gives no label;
  * a word beginning with CN is never labelled ISBN or ISSN, one beginning
    with ISBN never anything but ISBN, one beginning with ISSN never anything
    but ISSN.

Usage: stdnum_cross_check.py PROBE [--count N] [--seed S]
Exit status 0 when everything agrees, 1 on any disagreement, 2 on a setup
error.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

try:
    from stdnum import isbn as stdnum_isbn
    from stdnum import issn as stdnum_issn
except ImportError as error:  # pragma: no cover
    sys.stderr.write("stdnum_cross_check: python-stdnum is missing (Debian package python3-stdnum): %s\n" % error)
    sys.exit(2)

LABEL_CN = b"CN"
LABEL_PATENT = "专利号".encode("gb2312")
LABEL_ISBN = b"ISBN"
LABEL_ISSN = b"ISSN"
KNOWN_LABELS = {LABEL_CN, LABEL_PATENT, LABEL_ISBN, LABEL_ISSN}

DIGITS = "0123456789"


# --- check characters -------------------------------------------------------

def isbn10_check(body):
    """The check character completing nine digits (weights 10..2)."""
    total = sum((10 - i) * int(d) for i, d in enumerate(body))
    k = (11 - total % 11) % 11
    return "X" if k == 10 else str(k)


def isbn13_check(body):
    total = sum(int(d) * (1 if i % 2 == 0 else 3) for i, d in enumerate(body))
    return str((10 - total % 10) % 10)


def issn_check(body):
    total = sum((8 - i) * int(d) for i, d in enumerate(body))
    k = (11 - total % 11) % 11
    return "X" if k == 10 else str(k)


# --- candidate generator ----------------------------------------------------

class Generator:
    def __init__(self, seed):
        self.r = random.Random(seed)

    def digits(self, n):
        return "".join(self.r.choice(DIGITS) for _ in range(n))

    def check_char(self, right):
        """The right check character (X as X or x) or, often, a wrong one."""
        if self.r.random() < 0.6:
            return right.lower() if right == "X" and self.r.random() < 0.5 else right
        wrong = self.r.choice(DIGITS + "Xx")
        return wrong

    def hyphenate(self, text, groups):
        out, at = [], 0
        for g in groups:
            out.append(text[at:at + g])
            at += g
        out.append(text[at:])
        return "-".join(out)

    def split(self, n, parts):
        """A random split of n into `parts` positive sizes."""
        cuts = sorted(self.r.sample(range(1, n), parts - 1))
        sizes, prev = [], 0
        for c in cuts:
            sizes.append(c - prev)
            prev = c
        sizes.append(n - prev)
        return sizes

    def isbn10(self):
        body = self.digits(9)
        s = body + self.check_char(isbn10_check(body))
        if self.r.random() < 0.5:
            s = self.hyphenate(s, self.split(9, 3))  # any group sizes, inside or outside the layouts
        return s

    def isbn13(self):
        prefix = self.r.choice(["978", "979", "978", "979", "977", self.digits(3)])
        body = prefix + self.digits(9)
        right = isbn13_check(body)
        k = right if self.r.random() < 0.6 else self.r.choice(DIGITS + "Xx")
        s = body + k
        if self.r.random() < 0.5:
            s = self.hyphenate(s, [3] + self.split(9, 3))
        elif self.r.random() < 0.2:
            s = self.hyphenate(s, self.split(12, self.r.randint(2, 5)))  # prefix not closed at 3
        return s

    def issn(self):
        body = self.digits(7)
        s = body + self.check_char(issn_check(body))
        if self.r.random() < 0.6:
            at = 4 if self.r.random() < 0.7 else self.r.randint(0, 8)
            s = s[:at] + "-" + s[at:]
        return s

    def nine(self):
        """Nine characters: python-stdnum pads them to ISBN-10."""
        body = self.digits(8)
        s = "0" + body + isbn10_check("0" + body)
        return s[1:] if self.r.random() < 0.8 else self.digits(9)

    def zero_sum(self):
        return self.r.choice(["0000000000", "0-000-00000-0", "00-00-00000-0", "000000000", "00000000",
                              "0000-0000", "0000000000000", "978-0-000-00000-0", "000000000X"])

    def x_anywhere(self):
        s = list(self.r.choice([self.isbn10, self.isbn13, self.issn])())
        for _ in range(self.r.randint(1, 2)):
            s[self.r.randrange(len(s))] = self.r.choice("Xx")
        return "".join(s)

    def random_string(self):
        length = self.r.choice([8, 9, 10, 13, 17, self.r.randint(0, 20)])
        alphabet = self.r.choice([DIGITS, DIGITS + "-", DIGITS + "Xx-", DIGITS + "-Xx ab/", DIGITS * 3 + "-"])
        return "".join(self.r.choice(alphabet) for _ in range(length))

    def mutate(self, s):
        s = list(s)
        op = self.r.randrange(6)
        pos = self.r.randrange(len(s) + 1)
        if op == 0 and s:  # substitute
            s[min(pos, len(s) - 1)] = self.r.choice(DIGITS + "Xx-")
        elif op == 1 and len(s) > 1:  # transpose
            p = min(pos, len(s) - 2)
            s[p], s[p + 1] = s[p + 1], s[p]
        elif op == 2:  # insert
            s.insert(pos, self.r.choice(DIGITS + "-Xx"))
        elif op == 3 and s:  # delete
            del s[min(pos, len(s) - 1)]
        elif op == 4:  # a letter or other printable character
            s.insert(pos, self.r.choice("ABCDEFGHIJKLMNOPQRSTUVWYZabcdefghijklmnopqrstuvwyz /.:_+#"))
        else:  # a stray byte: control character or a byte of 0x80 and above
            s.insert(pos, chr(self.r.choice(list(range(1, 32)) + list(range(127, 256)))))
        return "".join(s)

    def candidate(self):
        kind = self.r.random()
        if kind < 0.22:
            s = self.isbn10()
        elif kind < 0.44:
            s = self.isbn13()
        elif kind < 0.62:
            s = self.issn()
        elif kind < 0.66:
            s = self.nine()
        elif kind < 0.67:
            s = self.zero_sum()
        elif kind < 0.72:
            s = self.x_anywhere()
        else:
            s = self.random_string()
        if self.r.random() < 0.25:
            s = self.mutate(s)
        word = s.encode("latin-1")
        if word[:1] >= b"\x81":
            word = b"0" + word  # a first byte above 0x80 belongs to the Chinese-word stage
        p = self.r.random()
        if p < 0.08:
            word = self.cased(b"ISBN") + word
        elif p < 0.16:
            word = self.cased(b"ISSN") + word
        elif p < 0.20:
            word = self.cased(b"CN") + word
        return word

    def cased(self, prefix):
        return bytes(c + 32 if self.r.random() < 0.5 else c for c in prefix)


# --- the library's side -----------------------------------------------------

def run_probe(probe, before_init, words):
    """Answers for `before_init` words, the Tesquin_Init code, answers for `words`."""
    lines = [w.hex() for w in before_init] + ["INIT"] + [w.hex() for w in words]
    with tempfile.TemporaryDirectory(prefix="tesq-stdnum-") as scratch:
        env = dict(os.environ)
        # An empty term table: the database path names nothing.
        env["TESQ_DB"] = os.path.join(scratch, "no-such-dir", "terms.db")
        done = subprocess.run([probe], input="\n".join(lines) + "\n", capture_output=True, text=True,
                              cwd=scratch, env=env, timeout=300)
    if done.returncode != 0:
        sys.stderr.write("stdnum_cross_check: probe failed (%d):\n%s" % (done.returncode, done.stderr))
        sys.exit(2)
    out = done.stdout.split("\n")
    if out and out[-1] == "":
        out.pop()
    if len(out) != len(lines):
        sys.stderr.write("stdnum_cross_check: probe gave %d answers for %d requests\n" % (len(out), len(lines)))
        sys.exit(2)

    def parse(line):
        result, label = line.split(" ")
        return int(result), (b"" if label == "-" else bytes.fromhex(label))

    n = len(before_init)
    init_code = int(out[n].split(" ")[1])
    return [parse(x) for x in out[:n]], init_code, [parse(x) for x in out[n + 1:]]


# --- comparison -------------------------------------------------------------

def printable(b):
    return all(0x20 <= c <= 0x7E for c in b)


def starts_with(word, prefix):
    return len(word) >= len(prefix) and all(w in (p, p + 32) for w, p in zip(word, prefix))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("probe")
    parser.add_argument("--count", type=int, default=130000)
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args()
    args.probe = os.path.abspath(args.probe)
    if not os.access(args.probe, os.X_OK):
        sys.stderr.write("stdnum_cross_check: no probe program at %s\n" % args.probe)
        return 2

    gen = Generator(args.seed)
    words = [gen.candidate() for _ in range(args.count)]
    # Fixed words first: real numbers inside and outside the layouts.
    fixed = [b"7-111-12346-8", b"7111123468", b"71-11-12346-8", b"7-111-12345-X", b"978-7-111-12345-3",
             b"9787111123453", b"979-7-111-12345-2", b"91-1-811692-2", b"1234-5679", b"1234513x",
             b"0000-0000", b"0000000000", b"711112346", b"9777111123453", b"ISBN7-111-12346-8",
             b"issn1234-5679", b"CN9787111123453", b"isbn1234-5679", b"11-1234/G", b"cn11-1234"]
    words = fixed + words

    cn_words = [b"11-1234/G", b"111234", b"CN11-1234", b"cn65-5999/Z"]
    before, init_code, answers = run_probe(args.probe, cn_words + [b"1234567"], words)

    failures = []  # the first 40 messages
    failure_count = [0]

    def fail(message):
        failure_count[0] += 1
        if len(failures) < 40:
            failures.append(message)

    # Before Tesquin_Init the region table is empty: no CN serial at all.
    for w, (result, label) in zip(cn_words, before):
        if result != 3:
            fail("before init: %r gave %d %r, expected no category" % (w, result, label))
    if before[-1] != (0, LABEL_PATENT):
        fail("before init: patent number 1234567 gave %r" % (before[-1],))

    counts = dict.fromkeys([
        "exact", "one_sided", "cn_or_patent", "stray", "prefix_cn", "prefix_isbn", "prefix_issn",
        "isbn_valid", "issn_valid", "nine_rejected", "zero_sum_rejected", "outside_layouts"], 0)

    for word, (result, label) in zip(words, answers):
        if result not in (0, 3) or (result == 0 and label not in KNOWN_LABELS):
            fail("%r: result %d label %r (is the term table empty?)" % (word, result, label))
            continue
        if not printable(word):
            counts["stray"] += 1
            if result != 3:
                fail("%r: a word with a byte outside printable ASCII got %r" % (word, label))
            continue

        if starts_with(word, b"CN"):
            counts["prefix_cn"] += 1
            if label in (LABEL_ISBN, LABEL_ISSN):
                fail("%r: a word beginning with CN labelled %r" % (word, label))
            continue
        if starts_with(word, b"ISBN"):
            counts["prefix_isbn"] += 1
            if label not in (b"", LABEL_ISBN):
                fail("%r: a word beginning with ISBN labelled %r" % (word, label))
            text, ask_isbn, ask_issn = word[4:], True, False
        elif starts_with(word, b"ISSN"):
            counts["prefix_issn"] += 1
            if label not in (b"", LABEL_ISSN):
                fail("%r: a word beginning with ISSN labelled %r" % (word, label))
            text, ask_isbn, ask_issn = word[4:], False, True
        elif word[:1].isdigit():
            if label in (LABEL_CN, LABEL_PATENT):
                counts["cn_or_patent"] += 1  # decided before the ISBN and ISSN validators
                continue
            text, ask_isbn, ask_issn = word, True, label != LABEL_ISBN
        else:
            # No validator is asked; python-stdnum must reject it as well
            # unless it holds a separator.
            if result != 3:
                fail("%r: labelled %r though no validator applies" % (word, label))
            text, ask_isbn, ask_issn = word, True, True

        s = text.decode("ascii")
        ours_isbn = label == LABEL_ISBN
        ours_issn = label == LABEL_ISSN
        theirs_isbn = stdnum_isbn.is_valid(s)
        theirs_issn = stdnum_issn.is_valid(s)
        counts["isbn_valid"] += ours_isbn
        counts["issn_valid"] += ours_issn
        separated = "-" in s or " " in s
        verdicts = []
        if ask_isbn:
            verdicts.append(("ISBN", ours_isbn, theirs_isbn))
        if ask_issn:
            verdicts.append(("ISSN", ours_issn, theirs_issn))
        if separated:
            counts["one_sided"] += 1
            for name, ours, theirs in verdicts:
                if ours and not theirs:
                    fail("%r: we accept %s %r, python-stdnum does not" % (word, name, s))
                if theirs and not ours:
                    counts["outside_layouts"] += 1
        else:
            counts["exact"] += 1
            for name, ours, theirs in verdicts:
                expected = theirs
                if name == "ISBN" and theirs and len(s) == 9:
                    expected = False  # python-stdnum pads it to ten characters
                    counts["nine_rejected"] += 1
                elif name == "ISBN" and theirs and stdnum_isbn.compact(s) == "0000000000":
                    expected = False  # weighted sum 0
                    counts["zero_sum_rejected"] += 1
                if ours != expected:
                    fail("%r: %s verdict %s here, expected %s (python-stdnum: %s, string %r)"
                         % (word, name, ours, expected, theirs, s))

    # After a successful Tesquin_Init the region table is filled.
    if init_code == 0:
        for w in (b"11-1234/G", b"cn11-1234"):
            if answers[words.index(w)] != (0, LABEL_CN):
                fail("after init: %r gave %r, expected CN" % (w, answers[words.index(w)]))
    else:
        print("  note: Tesquin_Init returned %d; CN serial numbers are not checked after it" % init_code)
    compared = counts["exact"] + counts["one_sided"]

    print("stdnum cross-check: seed %d, %d words through Tesquin_Search_Singleword (Tesquin_Init: %d)"
          % (args.seed, len(words), init_code))
    print("  compared with python-stdnum: %d strings (%d plain, exact; %d with separators, one-sided)"
          % (compared, counts["exact"], counts["one_sided"]))
    print("  labelled ISBN: %d, ISSN: %d; CN/patent words (decided first, not compared): %d"
          % (counts["isbn_valid"], counts["issn_valid"], counts["cn_or_patent"]))
    print("  words with prefixes: CN %d, ISBN %d, ISSN %d; with stray bytes (all unlabelled): %d"
          % (counts["prefix_cn"], counts["prefix_isbn"], counts["prefix_issn"], counts["stray"]))
    print("  valid to python-stdnum, rejected here as the rules say: 9 characters %d, weighted sum 0 %d, "
          "separators outside the accepted layouts %d"
          % (counts["nine_rejected"], counts["zero_sum_rejected"], counts["outside_layouts"]))
    if compared < 100000:
        fail("only %d strings compared; at least 100000 are required" % compared)
    if failure_count[0]:
        print("DISAGREEMENTS: %d (first %d shown)" % (failure_count[0], len(failures)))
        for f in failures:
            print("  " + f)
        return 1
    print("  result: no disagreement")
    return 0


if __name__ == "__main__":
    sys.exit(main())
