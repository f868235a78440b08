"""Every error of the package: text without a GB2312 form, a NUL, wrong types, a missing or wrong
library, wrong options, missing or damaged data. None gives an empty result silently."""
import os

import pytest

import tesqsrch
from conftest import DATA_DIR, run_python


@pytest.mark.parametrize("call", [tesqsrch.label, tesqsrch.analyze, tesqsrch.analyze_xml, tesqsrch.essay,
                                  tesqsrch.posseg.lcut])
@pytest.mark.parametrize("text, offset, character", [
    ("한", 0, "한"), ("ab한", 2, "한"), ("中文€", 2, "€"), ("😀", 0, "😀"), ("a\0b", 1, "\0"),
    ("\u00e4", 0, "\u00e4"), ("中\u00e9\u00e4", 2, "\u00e4"),
])
def test_text_the_library_cannot_take(call, text, offset, character):
    with pytest.raises(tesqsrch.EncodingError) as error:
        call(text)
    assert error.value.offset == offset
    assert error.value.character == character
    assert isinstance(error.value, ValueError)
    if character == "\0":
        assert str(error.value) == f"the text contains a NUL character at offset {offset}"
    else:
        assert str(error.value) == f"character U+{ord(character):04X} '{character}' at offset {offset} " \
                                   "has no GB2312 form"


def test_the_offset_counts_from_the_start_of_a_long_essay():
    """Past the first piece, the offset is still the character's index in the whole text, and the
    tokens before its piece have been given."""
    text = "中文。\n" * 40000 + "한"
    given = []
    with pytest.raises(tesqsrch.EncodingError) as error:
        for token in tesqsrch.iter_essay(text):
            given.append(token)
    assert error.value.offset == len(text) - 1
    assert given and given[-1].end <= len(text) - 1
    assert "".join(t.text for t in given) == text[:given[-1].end]


@pytest.mark.parametrize("call", [tesqsrch.label, tesqsrch.analyze, tesqsrch.essay, tesqsrch.posseg.lcut])
@pytest.mark.parametrize("value", [b"abc", None, 12])
def test_text_must_be_str(call, value):
    with pytest.raises(TypeError):
        call(value)


LABEL = "import tesqsrch; print(tesqsrch.label('9787111123453'))"


def test_a_missing_library_says_where_it_looked(tmp_path):
    missing = str(tmp_path / "nothing.so")
    proc = run_python(LABEL, {"TESQ_LIBRARY": missing})
    assert proc.returncode != 0
    assert "LibraryNotFoundError" in proc.stderr
    assert f"{missing} (TESQ_LIBRARY): no such file" in proc.stderr


def test_a_library_directory_is_searched_for_the_file(tmp_path):
    proc = run_python(LABEL, {"TESQ_LIBRARY": str(tmp_path)})
    assert f"{tmp_path}/libtesqsrch.so.0 (TESQ_LIBRARY): no such file" in proc.stderr


def test_a_file_that_is_not_the_library_is_an_error_not_skipped(tmp_path):
    wrong = tmp_path / "libtesqsrch.so.0"
    wrong.write_text("not a library\n")
    proc = run_python(LABEL, {"TESQ_LIBRARY": str(wrong)})
    assert proc.returncode != 0
    assert f"cannot load {wrong} (TESQ_LIBRARY)" in proc.stderr


def test_without_a_named_library_every_place_is_listed(tmp_path):
    """A copy of the package away from any build tree, with no prefix holding the library."""
    import shutil
    package = os.path.dirname(tesqsrch.__file__)
    shutil.copytree(package, tmp_path / "tesqsrch", ignore=shutil.ignore_patterns("_build_tree.py", "__pycache__"))
    proc = run_python(LABEL, {"TESQ_LIBRARY": None, "PYTHONPATH": str(tmp_path), "TESQ_PREFIX": str(tmp_path),
                              "LD_LIBRARY_PATH": None})
    if proc.returncode == 0:
        pytest.skip("a libtesqsrch is installed where the loader finds it")
    for place in ("the build tree beside the package", "an installed prefix",
                  f"{tmp_path}/lib/libtesqsrch.so.0", "the dynamic loader's search path", "set TESQ_LIBRARY"):
        assert place in proc.stderr


@pytest.mark.parametrize("options, message", [
    ("data_dir='/nonexistent/dir'", "data directory '/nonexistent/dir' does not exist"),
    ("data_dir='/etc/hostname'", "data directory '/etc/hostname' is not a directory"),
    ("db='/nonexistent.db'", "term database '/nonexistent.db' does not exist"),
    ("db='/tmp'", "term database '/tmp' is not a regular file"),
])
def test_wrong_options(options, message):
    proc = run_python(f"import tesqsrch; tesqsrch.init({options})")
    assert proc.returncode != 0
    assert f"tesqsrch._core.InitError: {message}" in proc.stderr


def test_an_empty_data_directory_names_the_missing_file(tmp_path):
    proc = run_python(LABEL, {"TESQ_DATA_DIR": str(tmp_path)})
    assert proc.returncode != 0
    assert "InitError: the dictionary service failed to start: cannot open " \
           f"{tmp_path}/segmenter.vlex" in proc.stderr


def test_a_damaged_dictionary_names_it(tmp_path):
    for name in os.listdir(DATA_DIR):
        if name.endswith((".vlex", ".vdic")):
            os.symlink(os.path.join(DATA_DIR, name), tmp_path / name)
    os.unlink(tmp_path / "org_dic.vdic")
    (tmp_path / "org_dic.vdic").write_bytes(b"damaged")
    proc = run_python(LABEL, {"TESQ_DATA_DIR": str(tmp_path)})
    assert proc.returncode != 0
    assert "InitError: loading the dictionary 'org_dic' failed: " in proc.stderr
    assert "org_dic.vdic" in proc.stderr


def test_a_failed_init_can_be_tried_again_in_the_same_process(tmp_path):
    code = f"""
import tesqsrch
try:
    tesqsrch.init(data_dir={str(tmp_path)!r})
except tesqsrch.InitError as error:
    print("failed", error.code)
tesqsrch.init(data_dir={DATA_DIR!r})
print(tesqsrch.label('9787111123453'))
"""
    proc = run_python(code)
    assert proc.stdout.split("\n")[:2] == ["failed -1", "ISBN"], proc.stderr


def test_init_with_the_options_of_the_tool(tmp_path):
    """data_dir= and db= work as tesq's --data-dir and --db: a term database of one's own."""
    from conftest import tesq
    terms = tmp_path / "my-terms.tsv"
    terms.write_text("测试词\t自定义标签\n", encoding="utf-8")
    db = tmp_path / "my.db"
    status, _, err = tesq("terms", "import", "--db", str(db), str(terms))
    assert status == 0, err
    own = run_python(f"import tesqsrch; tesqsrch.init(db={str(db)!r}, data_dir={DATA_DIR!r}); "
                     "print(tesqsrch.label('测试词'))", {"TESQ_DATA_DIR": None})
    assert own.stdout == "自定义标签\n", own.stderr
    default = run_python("import tesqsrch; print(tesqsrch.label('测试词'))")
    assert default.stdout == "None\n", default.stderr
    by_environment = run_python("import tesqsrch; print(tesqsrch.label('测试词'))", {"TESQ_DB": str(db)})
    assert by_environment.stdout == "自定义标签\n", by_environment.stderr


def test_uninit_then_use_initialises_again():
    tesqsrch.uninit()
    tesqsrch.uninit()  # nothing to release: harmless
    assert tesqsrch.label("1234-5679") == "ISSN"


def test_an_installed_prefix_is_found(tmp_path):
    """Away from any build tree, the library of TESQ_PREFIX/lib is the one loaded."""
    import shutil
    package = os.path.dirname(tesqsrch.__file__)
    shutil.copytree(package, tmp_path / "site" / "tesqsrch",
                    ignore=shutil.ignore_patterns("_build_tree.py", "__pycache__"))
    (tmp_path / "prefix" / "lib").mkdir(parents=True)
    os.symlink(os.path.realpath(os.environ["TESQ_LIBRARY"]), tmp_path / "prefix" / "lib" / "libtesqsrch.so.0")
    code = "import tesqsrch; from tesqsrch import _core; print(tesqsrch.label('1234-5679'), _core._State.path)"
    proc = run_python(code, {"TESQ_LIBRARY": None, "PYTHONPATH": str(tmp_path / "site"),
                             "TESQ_PREFIX": str(tmp_path / "prefix")})
    assert proc.stdout == f"ISSN {tmp_path}/prefix/lib/libtesqsrch.so.0\n", proc.stderr
