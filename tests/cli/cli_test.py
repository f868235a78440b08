#!/usr/bin/python3
"""The tesq tool from a shell: exit statuses, help texts, encodings, JSON
output, the --data-dir/--db overrides and the progress bar.

usage: cli_test.py TESQ DATA_DIR

DATA_DIR is the data the tool reads by default (the build tree's data);
TESQ_DATA_DIR, when set, takes its place. It must hold the term database
built from data/terms.tsv, else the test is skipped.
Each test runs in a temporary directory (the library writes as.txt into the
current directory) with TESQ_DATA_DIR and TESQ_DB unset unless a case sets
them.
"""
import json
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import unittest

TESQ = ""
DATA_DIR = ""
SKIP = 77

# Words whose labels do not depend on the dictionaries: known terms of
# data/terms.tsv and standard numbers.
KNOWN = [
    ("计算机科学", "主题词"),
    ("情报学报", "刊名"),
    ("9787111123453", "ISBN"),
    ("7-111-12345-X", "ISBN"),
    ("978-7-111-12345-3", "ISBN"),
    ("1234-5679", "ISSN"),
    ("11-1234/G", "CN"),
]

TAG_NAMES = {1: "adjective", 8: "adverb", 18: "numeral", 21: "person", 22: "place",
             23: "organisation", 27: "preposition", 29: "pronoun", 37: "conjunction",
             38: "auxiliary", 39: "modal particle", 40: "interjection", 41: "punctuation"}

ESSAY_TEXT = "张三在北京大学学习。\n李四, 9787111123453 and \"quotes\"\t\\.\n\n第三行"


def run(args, stdin=b"", env=None, cwd=None, **options):
    """Runs tesq with `args` (str or bytes items); returns (status, stdout, stderr) as bytes.
    `options` go to subprocess.run (user=, group=, ...)."""
    environment = {k: v for k, v in os.environ.items() if k not in ("TESQ_DATA_DIR", "TESQ_DB")}
    environment.update(env or {})
    if "TESQ_DATA_DIR" not in environment and DATA_DIR:
        environment["TESQ_DATA_DIR"] = DATA_DIR
    proc = subprocess.run([TESQ] + list(args), input=stdin, capture_output=True, env=environment,
                          cwd=cwd or Case.workdir, timeout=300, **options)
    return proc.returncode, proc.stdout, proc.stderr


def subcommands():
    status, out, _ = run(["--help"])
    assert status == 0
    names = []
    in_list = False
    for line in out.decode().splitlines():
        if line.startswith("commands:"):
            in_list = True
        elif in_list and line.startswith("  "):
            names.append(line.split()[0])
        elif in_list:
            in_list = False
    return names


class Case(unittest.TestCase):
    workdir = ""

    def setUp(self):
        Case.workdir = tempfile.mkdtemp(prefix="tesq-cli-")

    def tearDown(self):
        shutil.rmtree(Case.workdir, ignore_errors=True)


class ExitStatus(Case):
    def test_table(self):
        cases = [
            # args, stdin, expected status, stdout (exact, None: any), stderr part
            ([], b"", 2, b"", b"usage: tesq COMMAND"),
            (["--help"], b"", 0, None, b""),
            (["-h"], b"", 0, None, b""),
            (["--version"], b"", 0, None, b""),
            (["frobnicate"], b"", 2, b"", b"unknown command 'frobnicate'"),
            (["word", "9787111123453"], b"", 0, b"ISBN\n", b""),
            (["word", "xyz"], b"", 3, b"", b"no category"),
            (["word"], b"", 2, b"", b"expected exactly one WORD"),
            (["word", "a", "b"], b"", 2, b"", b"expected exactly one WORD"),
            (["word", "--bogus", "a"], b"", 2, b"", b"unknown option '--bogus'"),
            (["word", "--encoding", "latin1", "a"], b"", 2, b"", b"unknown encoding 'latin1'"),
            (["word", "--db"], b"", 2, b"", b"needs a value"),
            (["word", "--db", "no-such.db", "a"], b"", 1, b"", b"term database 'no-such.db' does not exist"),
            (["word", "--data-dir", "/no/such/dir", "a"], b"", 1, b"", b"data directory '/no/such/dir' does not exist"),
            (["search"], b"", 2, b"", b"expected a QUERY"),
            (["search", "--format", "json", "a"], b"", 2, b"", b"unknown option '--format'"),
            (["essay", "no-such-file.txt"], b"", 1, b"", b"cannot open 'no-such-file.txt'"),
            (["essay", "a", "b"], b"", 2, b"", b"expected at most one FILE"),
            (["essay", "--format", "xml"], b"", 2, b"", b"unknown format 'xml'"),
            (["essay", "--format=json"], b"", 0, b"", b""),  # empty text, no words
        ]
        for args, stdin, status, stdout, stderr_part in cases:
            with self.subTest(args=args):
                got_status, got_out, got_err = run(args, stdin)
                self.assertEqual(got_status, status, got_err)
                if stdout is not None:
                    self.assertEqual(got_out, stdout)
                self.assertIn(stderr_part, got_err)

    def test_version(self):
        status, out, _ = run(["--version"])
        self.assertEqual(status, 0)
        self.assertRegex(out.decode(), r"^tesq \d+\.\d+\.\d+\n$")

    def test_word_labels(self):
        for word, label in KNOWN:
            with self.subTest(word=word):
                status, out, err = run(["word", word])
                self.assertEqual((status, out.decode()), (0, label + "\n"), err)

    def test_search_document(self):
        query = [w for w, _ in KNOWN] + ["xyz"]
        status, out, err = run(["search"] + query)
        self.assertEqual(status, 0, err)
        text = out.decode()
        self.assertTrue(text.startswith('<?xml version="1.0" encoding="gb2312" standalone="yes" ?>\n<IR>\n'))
        self.assertIn("<Sentence>%s</Sentence>" % " ".join(query), text)
        for word, label in KNOWN + [("xyz", "全文")]:
            self.assertIn('\t<Word p="%s">%s</Word>\n' % (label, word), text)
        self.assertTrue(text.endswith("</Items>\n</IR>\n"))
        # The library's trace of every word lands in the current directory.
        with open(os.path.join(Case.workdir, "as.txt"), "rb") as trace:
            self.assertEqual(len(trace.read().splitlines()), 3 * len(query))

    def test_search_long_query(self):
        # Far beyond the library's working document: a clean failure or a
        # document, never a crash or a truncated document.
        query = ["9787111123453"] * 300
        status, out, err = run(["search"] + query)
        self.assertIn(status, (0, 1), err)
        if status == 0:
            self.assertEqual(out.decode().count('<Word p="ISBN">'), 300)
            self.assertTrue(out.endswith(b"</IR>\n"))
        else:
            self.assertEqual(out, b"")


class Help(Case):
    def test_every_subcommand(self):
        names = subcommands()
        self.assertIn("search", names)
        self.assertIn("essay", names)
        for name in names:
            for flag in ("--help", "-h"):
                with self.subTest(command=name, flag=flag):
                    status, out, err = run([name, flag])
                    if b"not available in this build" in err:
                        self.skipTest("'%s' is not built in yet" % name)
                    self.assertEqual(status, 0, err)
                    self.assertTrue(out.decode().startswith("usage: tesq " + name), out)
                    self.assertIn("--help", out.decode())

    def test_word_help_documents_exit_statuses(self):
        status, out, _ = run(["word", "--help"])
        self.assertEqual(status, 0)
        self.assertIn("0 labelled, 3 no category", out.decode())


class Encoding(Case):
    def test_characters_outside_gb2312_are_named(self):
        cases = [
            (["word", "한국"], "U+D55C '한'"),
            (["search", "ok", "a€b"], "U+20AC '€'"),
            (["word", "😀"], "U+1F600"),
        ]
        for args, part in cases:
            with self.subTest(args=args):
                status, out, err = run(args)
                self.assertEqual(status, 2)
                self.assertEqual(out, b"")
                self.assertIn(part, err.decode())
        status, out, err = run(["essay"], "第一行\n第二行 é ½\n".encode())
        self.assertEqual(status, 2)
        self.assertIn("U+00BD", err.decode())

    def test_malformed_utf8_and_nul(self):
        for stdin, part in [(b"ab\xffcd", b"byte 2"), (b"ab\x00cd", b"NUL byte at byte 2")]:
            with self.subTest(stdin=stdin):
                status, out, err = run(["essay"], stdin)
                self.assertEqual(status, 2)
                self.assertIn(part, err)
        status, _, err = run(["essay", "--encoding", "gb2312"], b"ab\x00cd")
        self.assertEqual(status, 2)
        self.assertIn(b"NUL byte at byte 2", err)

    def test_raw_gb2312_round_trip(self):
        for word, label in KNOWN:
            with self.subTest(word=word):
                status, out, err = run(["word", "--encoding", "gb2312", word.encode("gb2312")])
                self.assertEqual((status, out), (0, label.encode("gb2312") + b"\n"), err)
        query = [w for w, _ in KNOWN]
        status_utf8, utf8, _ = run(["search"] + query)
        status_raw, raw, _ = run(["search", "--encoding=gb2312"] + [w.encode("gb2312") for w in query])
        self.assertEqual((status_utf8, status_raw), (0, 0))
        self.assertEqual(raw, utf8.decode().encode("gb2312"))

    def test_raw_essay_keeps_bytes(self):
        text = ESSAY_TEXT.encode("gb2312")
        status, out, err = run(["essay", "--encoding", "gb2312", "--format", "json"], text)
        self.assertEqual(status, 0, err)
        words = [json.loads(line) for line in out.decode().splitlines()]
        self.assertEqual(b"".join(text[w["start"]:w["end"]] for w in words), text)
        status, inline, err = run(["essay", "--encoding", "gb2312"], text)
        self.assertEqual(status, 0, err)
        status, inline_utf8, err = run(["essay"], ESSAY_TEXT.encode())
        self.assertEqual(inline, inline_utf8.decode().encode("gb2312"))


class Json(Case):
    def check_words(self, text, out):
        gb = text.encode("gb2312")
        lines = out.decode().splitlines()
        self.assertTrue(lines)
        position = 0
        for line in lines:
            word = json.loads(line)
            self.assertEqual(sorted(word), ["end", "start", "tag", "tag_name", "text"])
            self.assertEqual(word["start"], position)
            self.assertGreater(word["end"], word["start"])
            self.assertEqual(word["text"], gb[word["start"]:word["end"]].decode("gb2312"))
            self.assertEqual(word["tag_name"], TAG_NAMES.get(word["tag"], "tag%d" % word["tag"]))
            position = word["end"]
        self.assertEqual(position, len(gb))
        return [json.loads(line) for line in lines]

    def test_json_lines_cover_the_text(self):
        status, out, err = run(["essay", "--format", "json"], ESSAY_TEXT.encode())
        self.assertEqual(status, 0, err)
        self.check_words(ESSAY_TEXT, out)

    def test_json_from_file_with_byte_order_mark(self):
        path = os.path.join(Case.workdir, "essay.txt")
        with open(path, "wb") as f:
            f.write(b"\xef\xbb\xbf" + ESSAY_TEXT.encode())
        status, out, err = run(["essay", "--format", "json", path])
        self.assertEqual(status, 0, err)
        self.check_words(ESSAY_TEXT, out)

    def test_inline_matches_json(self):
        status, out, _ = run(["essay", "--format", "json"], ESSAY_TEXT.encode())
        words = self.check_words(ESSAY_TEXT, out)
        status, inline, err = run(["essay"], ESSAY_TEXT.encode())
        self.assertEqual(status, 0, err)
        # Inline: the words that are not white space, as word/tag, lines kept.
        expected, line = [], []
        for w in words:
            if w["text"].strip(" \t\r\n\f\v") == "":
                for _ in range(w["text"].count("\n")):
                    expected.append(" ".join(line))
                    line = []
            else:
                line.append("%s/%d" % (w["text"], w["tag"]))
        if line:
            expected.append(" ".join(line))
        self.assertEqual(inline.decode(), "".join(l + "\n" for l in expected))


class Overrides(Case):
    def make_db(self, name, word, label):
        path = os.path.join(Case.workdir, name)
        status, _, err = run(["terms", "import", "--db", path, "-"], ("%s\t%s\n" % (word, label)).encode())
        self.assertEqual(status, 0, err)
        return path

    def test_db(self):
        mine = self.make_db("mine.db", "测试专用词", "测试标签")
        other = self.make_db("other.db", "测试专用词", "另一标签")
        cases = [
            ([], {}, 3, ""),
            (["--db", mine], {}, 0, "测试标签\n"),
            ([], {"TESQ_DB": mine}, 0, "测试标签\n"),
            (["--db", other], {"TESQ_DB": mine}, 0, "另一标签\n"),  # the option wins
            (["--db=" + mine], {}, 0, "测试标签\n"),
        ]
        for options, env, status, out in cases:
            with self.subTest(options=options, env=env):
                got_status, got_out, err = run(["word"] + options + ["测试专用词"], env=env)
                self.assertEqual((got_status, got_out.decode()), (status, out), err)
        status, out, _ = run(["search", "--db", mine, "测试专用词"])
        self.assertIn('<Word p="测试标签">测试专用词</Word>', out.decode())

    def test_data_dir(self):
        # A copy of the data directory whose term database knows one more word.
        copy = os.path.join(Case.workdir, "data")
        os.mkdir(copy)
        for name in os.listdir(DATA_DIR):
            if name != "terms.db":
                os.symlink(os.path.join(DATA_DIR, name), os.path.join(copy, name))
        shutil.copy(self.make_db("x.db", "数据目录专用词", "目录标签"), os.path.join(copy, "terms.db"))
        cases = [
            ([], {}, 3, ""),
            (["--data-dir", copy], {}, 0, "目录标签\n"),
            ([], {"TESQ_DATA_DIR": copy}, 0, "目录标签\n"),
            (["--data-dir", DATA_DIR], {"TESQ_DATA_DIR": copy}, 3, ""),  # the option wins
        ]
        for options, env, status, out in cases:
            with self.subTest(options=options, env=env):
                got_status, got_out, err = run(["word"] + options + ["数据目录专用词"], env=env)
                self.assertEqual((got_status, got_out.decode()), (status, out), err)


class DataFileErrors(Case):
    """A data file that does not load: one line on standard error names the
    dictionary, the file and the reason; nothing on standard output."""

    DATA_FILES = ["segmenter.vlex", "foreign_dic.vdic", "name_dic.vdic", "org_dic.vdic",
                  "fund_dic.vdic", "place.vdic", "terms.db"]

    def data_copy(self, damaged):
        """A data directory of links to the built files, with a copy of its
        own of `damaged` to spoil."""
        copy = os.path.join(Case.workdir, "data-" + damaged)
        os.mkdir(copy)
        os.chmod(Case.workdir, 0o755)  # also for the user nobody
        for name in self.DATA_FILES:
            if name == damaged:
                shutil.copy(os.path.join(DATA_DIR, name), os.path.join(copy, name))
            else:
                os.symlink(os.path.join(DATA_DIR, name), os.path.join(copy, name))
        return copy

    @staticmethod
    def patch(path, offset, data):
        with open(path, "r+b") as f:
            f.seek(offset)
            f.write(data)

    @staticmethod
    def replace_by(path, make):
        os.remove(path)
        make(path)

    def test_reasons(self):
        def flip_payload_byte(path):
            with open(path, "rb") as f:
                middle = len(f.read()) // 2
            with open(path, "r+b") as f:
                f.seek(middle)
                byte = f.read(1)
                f.seek(middle)
                f.write(bytes([byte[0] ^ 0x20]))

        checksum = ": checksum mismatch, the file is damaged; rebuild the data"
        version = ": format version 2, this library reads version 1; rebuild the data"
        cut = ": the size in its header does not match, the file is truncated or extended; rebuild the data"
        cases = [
            # file, damage, what failed, reason after the file's path
            ("place.vdic", flip_payload_byte, "loading the dictionary 'place' failed", checksum),
            ("segmenter.vlex", flip_payload_byte, "the dictionary service failed to start", checksum),
            ("org_dic.vdic", lambda p: self.patch(p, 8, b"\x02"), "loading the dictionary 'org_dic' failed",
             version),
            ("fund_dic.vdic", lambda p: os.truncate(p, 100), "loading the dictionary 'fund_dic' failed", cut),
            ("name_dic.vdic", lambda p: self.replace_by(p, os.mkdir), "loading the dictionary 'name_dic' failed",
             " is not a regular file"),
            ("foreign_dic.vdic", lambda p: self.replace_by(p, os.mkfifo),
             "loading the dictionary 'foreign_dic' failed", " is not a regular file"),
        ]
        for name, damage, what, reason in cases:
            with self.subTest(file=name, reason=reason):
                copy = self.data_copy(name)
                path = os.path.join(copy, name)
                damage(path)
                for command in (["word", "9787111123453"], ["search", "9787111123453"], ["essay", "-"]):
                    status, out, err = run(command[:1] + ["--data-dir", copy] + command[1:])
                    self.assertEqual((status, out), (1, b""), err)
                    self.assertEqual(err.decode(), "tesq %s: %s: %s%s\n" % (command[0], what, path, reason))

    def test_missing_file(self):
        copy = self.data_copy("place.vdic")
        path = os.path.join(copy, "place.vdic")
        os.remove(path)
        status, out, err = run(["word", "--data-dir", copy, "9787111123453"])
        self.assertEqual((status, out), (1, b""), err)
        self.assertEqual(err.decode(), "tesq word: loading the dictionary 'place' failed: cannot open %s: "
                         "No such file or directory\n" % path)

    def test_permission_denied(self):
        # Root reads any file: as root, the tool runs as the user nobody.
        copy = self.data_copy("name_dic.vdic")
        path = os.path.join(copy, "name_dic.vdic")
        args = ["word", "--data-dir", copy, "9787111123453"]
        as_user = {}
        if os.geteuid() == 0:
            as_user = {"user": 65534, "group": 65534, "extra_groups": []}
            status, _, err = run(args, **as_user)
            if status != 0:
                self.skipTest("the tool cannot run as the user nobody here: %s" % err.decode())
        os.chmod(path, 0)
        status, out, err = run(args, **as_user)
        self.assertEqual((status, out), (1, b""), err)
        self.assertEqual(err.decode(), "tesq word: loading the dictionary 'name_dic' failed: cannot open %s: "
                         "Permission denied\n" % path)

    def test_data_dir_that_is_no_directory(self):
        cases = [
            ("/etc/passwd", "is not a directory"),
            ("/etc/passwd/data", "does not exist"),
            (os.path.join(Case.workdir, "missing"), "does not exist"),
        ]
        for directory, problem in cases:
            with self.subTest(directory=directory):
                status, out, err = run(["word", "--data-dir", directory, "9787111123453"])
                self.assertEqual((status, out), (1, b""), err)
                self.assertEqual(err.decode(), "tesq word: data directory '%s' %s\n" % (directory, problem))


class Progress(Case):
    # Several pieces of 64 KiB: long lines of a known term and digits.
    BIG = ("计算机科学与信息检索 12345 abc。" * 40 + "\n") * 150

    def run_with_terminal_stderr(self, stdin):
        master, slave = pty.openpty()
        environment = {k: v for k, v in os.environ.items() if k not in ("TESQ_DB",)}
        environment.setdefault("TESQ_DATA_DIR", DATA_DIR)
        # The bar needs the input's size: standard input is a file.
        path = os.path.join(Case.workdir, "big.txt")
        with open(path, "wb") as f:
            f.write(stdin)
        with open(path, "rb") as source:
            proc = subprocess.Popen([TESQ, "essay", "--format", "json"], stdin=source,
                                    stdout=subprocess.PIPE, stderr=slave, env=environment, cwd=Case.workdir)
        os.close(slave)
        seen = b""
        out = b""
        while True:
            ready, _, _ = select.select([master, proc.stdout], [], [], 300)
            if not ready:
                break
            if master in ready:
                try:
                    chunk = os.read(master, 65536)
                except OSError:
                    chunk = b""
                seen += chunk
            if proc.stdout in ready:
                chunk = proc.stdout.read1(65536)
                if not chunk:
                    break
                out += chunk
        proc.wait(timeout=300)
        proc.stdout.close()
        try:
            while select.select([master], [], [], 0.2)[0]:
                chunk = os.read(master, 65536)
                if not chunk:
                    break
                seen += chunk
        except OSError:
            pass
        os.close(master)
        return proc.returncode, out, seen

    def test_bar_only_on_a_terminal(self):
        text = self.BIG.encode()
        status, out, seen = self.run_with_terminal_stderr(text)
        self.assertEqual(status, 0, seen)
        self.assertIn(b"tesq essay [", seen)
        self.assertIn(b"100%", seen)
        self.assertTrue(seen.endswith(b"\r"), seen[-80:])  # the line is cleared at the end
        status, piped_out, err = run(["essay", "--format", "json"], text)
        self.assertEqual(status, 0)
        self.assertEqual(err, b"")
        self.assertEqual(piped_out, out)
        words = [json.loads(line) for line in out.decode().splitlines()]
        self.assertEqual(words[-1]["end"], len(self.BIG.encode("gb2312")))


class Streaming(Case):
    def test_error_beyond_the_first_pieces_names_the_whole_texts_byte(self):
        # The essay is read and printed piece by piece: the words before
        # the error are out, and the offset is counted from the start.
        head = ("计算机科学与信息检索。\n" * 20000).encode()
        status, out, err = run(["essay", "--format", "json"], head + b"ab\xffcd\n")
        self.assertEqual(status, 2)
        self.assertIn(b"invalid UTF-8 byte 0xFF at byte %d" % (len(head) + 2), err)
        self.assertTrue(out.endswith(b"}\n"))

    def test_file_and_pipe_give_the_same_words(self):
        text = ("王小明在北京大学图书馆工作。\n李四, 9787111123453 and\n" * 5000).encode()
        path = os.path.join(Case.workdir, "essay.txt")
        with open(path, "wb") as f:
            f.write(text)
        for options in (["--format", "json"], []):
            with self.subTest(options=options):
                status, piped, err = run(["essay"] + options, text)
                self.assertEqual(status, 0, err)
                status, from_file, err = run(["essay"] + options + [path])
                self.assertEqual(status, 0, err)
                self.assertEqual(piped, from_file)
        words = [json.loads(line) for line in run(["essay", "--format", "json", path])[1].splitlines()]
        self.assertEqual(words[-1]["end"], len(text.decode().encode("gb2312")))


class Trace(Case):
    def test_a_link_named_as_txt_is_not_followed(self):
        victim = os.path.join(Case.workdir, "victim.txt")
        with open(victim, "wb") as f:
            f.write(b"kept\n")
        os.symlink("victim.txt", os.path.join(Case.workdir, "as.txt"))
        os.symlink("created.txt", os.path.join(Case.workdir, "dangling"))
        status, out, err = run(["search", "abc", "def", "ghi"])
        self.assertEqual(status, 0, err)
        self.assertIn(b'<Word p="\xe5\x85\xa8\xe6\x96\x87">ghi</Word>', out)
        with open(victim, "rb") as f:
            self.assertEqual(f.read(), b"kept\n")
        # Reported once, not once per word.
        self.assertEqual(err.count(b"as.txt is not written: is a symbolic link"), 1, err)
        os.remove(os.path.join(Case.workdir, "as.txt"))
        os.rename(os.path.join(Case.workdir, "dangling"), os.path.join(Case.workdir, "as.txt"))
        status, _, err = run(["search", "abc"])
        self.assertEqual(status, 0, err)
        self.assertFalse(os.path.exists(os.path.join(Case.workdir, "created.txt")))

    def test_a_fifo_named_as_txt_does_not_block(self):
        os.mkfifo(os.path.join(Case.workdir, "as.txt"))
        status, out, err = run(["search", "abc"])  # run() times out rather than hang
        self.assertEqual(status, 0, err)
        self.assertIn(b"is not a regular file", err)


class Output_Errors(Case):
    def test_a_failed_write_of_standard_output_is_exit_status_1(self):
        environment = {k: v for k, v in os.environ.items() if k not in ("TESQ_DB",)}
        environment.setdefault("TESQ_DATA_DIR", DATA_DIR)
        commands = [["--help"], ["--version"], ["word", "9787111123453"], ["search", "abc"], ["essay"]]
        commands += [[name, "--help"] for name in subcommands()]
        for args in commands:
            with self.subTest(args=args), open("/dev/full", "wb") as full:
                proc = subprocess.run([TESQ] + args, input=b"abc\n", stdout=full, stderr=subprocess.PIPE,
                                      env=environment, cwd=Case.workdir, timeout=300)
                self.assertEqual(proc.returncode, 1, proc.stderr)
                self.assertIn(b"write error on standard output", proc.stderr)


LEXICON_A = "王小明 100 nr\n北京大学 200 nt\n北京 300 ns\n上海 300 ns\n学习 500 v\n张 50 nr\n"
LEXICON_B = LEXICON_A + "克林顿 30 nrt\n浙江省自然科学基金 5 nt\n南京大学出版社 40 nt\n李晓燕 20 nr\n"


class Build_Dicts(Case):
    def write(self, name, text):
        path = os.path.join(Case.workdir, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def snapshot(self, directory):
        files = {}
        for name in sorted(os.listdir(directory)):
            with open(os.path.join(directory, name), "rb") as f:
                files[name] = f.read()
        return files

    def test_a_directory_is_not_a_lexicon(self):
        status, _, err = run(["build-dicts", "--lexicon", Case.workdir, "--out", os.path.join(Case.workdir, "o")])
        self.assertEqual(status, 1)
        self.assertIn(b"is a directory", err)
        self.assertNotIn(b"no word with a frequency", err)

    def test_a_full_disk_replaces_nothing_in_out(self):
        mount = os.path.join(Case.workdir, "small")
        os.mkdir(mount)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512k", "tmpfs", mount],
                          capture_output=True).returncode != 0:
            print("skipped: a tmpfs cannot be mounted here (needs root and mount permission)")
            return
        try:
            out = os.path.join(mount, "out")
            status, _, err = run(["build-dicts", "--lexicon", self.write("a.txt", LEXICON_A), "--out", out])
            self.assertEqual(status, 0, err)
            before = self.snapshot(out)
            self.assertIn("segmenter.txt", before)
            self.assertIn("segmenter.vlex", before)
            # Three free pages: the new text sources fit, the new lexicon
            # (some 28 KB) does not.
            info = os.statvfs(mount)
            with open(os.path.join(mount, "filler"), "wb") as filler:
                filler.write(b"\0" * (info.f_bavail * info.f_frsize - 3 * 4096))
            status, _, err = run(["build-dicts", "--lexicon", self.write("b.txt", LEXICON_B), "--out", out])
            self.assertEqual(status, 1, err)
            self.assertEqual(self.snapshot(out), before, "a failed build changed --out")
            os.remove(os.path.join(mount, "filler"))
            status, _, err = run(["build-dicts", "--lexicon", os.path.join(Case.workdir, "b.txt"), "--out", out])
            self.assertEqual(status, 0, err)
            after = self.snapshot(out)
            self.assertEqual(sorted(after), sorted(before))
            self.assertNotEqual(after["segmenter.txt"], before["segmenter.txt"])
        finally:
            subprocess.run(["umount", mount], capture_output=True)


def main():
    global TESQ, DATA_DIR
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    TESQ = os.path.abspath(sys.argv[1])
    DATA_DIR = os.path.abspath(os.environ.get("TESQ_DATA_DIR") or sys.argv[2])
    if not os.path.exists(os.path.join(DATA_DIR, "terms.db")):
        print("no term database in %s: build the data first (skipped)" % DATA_DIR)
        return SKIP
    program = unittest.main(argv=[sys.argv[0], "-v"], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
