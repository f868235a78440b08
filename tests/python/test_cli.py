"""python -m tesqsrch mirrors tesq's word, search and essay: output and exit status."""
import subprocess
import sys

import pytest

from conftest import tesq


def module(*args, stdin=None):
    proc = subprocess.run([sys.executable, "-m", "tesqsrch"] + list(args), input=stdin, capture_output=True,
                          timeout=120)
    return proc.returncode, proc.stdout.decode("utf-8"), proc.stderr.decode("utf-8")


@pytest.mark.parametrize("args, stdin", [
    (["word", "9787111123453"], None),
    (["word", "王小明"], None),
    (["word", "xyz"], None),
    (["word", "한국어"], None),
    (["search", "计算机科学", "9787111123453", "1234-5679", "xyz"], None),
    (["search", "王小明", "北京大学图书馆", "浙江省自然科学基金资助项目"], None),
    (["essay"], "王小明在北京大学图书馆工作。\n第二行  词\n"),
    (["essay", "--format", "json"], "王小明在北京。"),
    (["essay"], "中文한"),
    (["search", "--db", "/nonexistent.db", "x"], None),
    (["word", "--data-dir", "/nonexistent", "x"], None),
])
def test_as_tesq(args, stdin):
    data = stdin.encode("utf-8") if stdin is not None else None
    status, out, err = module(*args, stdin=data)
    expected_status, expected_out, expected_err = tesq(*args, stdin=data)
    assert status == expected_status, err
    if expected_status in (0, 3) or args[0] != "essay":
        assert out == expected_out
    assert bool(err) == bool(expected_err)


def test_essay_from_a_file(tmp_path):
    path = tmp_path / "essay.txt"
    path.write_text("王小明在北京。\n", encoding="utf-8")
    assert module("essay", str(path))[:2] == tesq("essay", str(path))[:2]


def test_usage_error():
    assert module()[0] == 2
    assert module("nothing")[0] == 2
