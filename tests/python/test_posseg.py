"""The jieba-shaped interface: pairs as jieba.posseg gives them, flags by the documented mapping."""
import re

import tesqsrch
from tesqsrch import posseg
from conftest import README


def readme_flags():
    """The tag number -> flag table of the README's Python section."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("## Python"):]
    section = section[:section.index("\n## ", 1)]
    table = {}
    for numbers, flag in re.findall(r"^\| ([0-9, ]+) \| `([a-z]+)` \|", section, re.M):
        for number in numbers.split(","):
            table[int(number)] = flag
    return table


def test_the_mapping_is_the_documented_one():
    documented = readme_flags()
    assert documented and documented == posseg.FLAGS
    for tag in range(0, 50):
        assert posseg.flag(tag) == documented.get(tag, "x")


def test_names_read_as_jieba_flags():
    pairs = posseg.lcut("王小明在北京大学图书馆工作。")
    assert [tuple(p) for p in pairs] == [("王小明", "nr"), ("在", "p"), ("北京大学图书馆", "nt"), ("工作", "vn"),
                                         ("。", "x")]
    assert [tuple(p) for p in posseg.lcut("王小明在北京。")][2] == ("北京", "ns")


def test_pairs_behave_as_jiebas(corpus):
    _, _, essays = corpus
    for text in essays[:50]:
        pairs = list(posseg.cut(text))
        assert pairs == posseg.lcut(text, HMM=False)
        assert [(p.word, p.flag) for p in pairs] == \
            [(t.text, posseg.FLAGS.get(t.tag, "x")) for t in tesqsrch.essay(text)]
        for p in pairs:
            word, flag = p
            assert (word, flag) == (p.word, p.flag)
            assert str(p) == f"{word}/{flag}"
            assert repr(p) == f"pair({word!r}, {flag!r})"
    assert posseg.pair("a", "x") == posseg.pair("a", "x") and posseg.pair("a", "x") != posseg.pair("a", "n")
    assert len({posseg.pair("a", "x"), posseg.pair("a", "x")}) == 1


def test_cut_is_lazy():
    generator = posseg.cut("中文")
    assert iter(generator) is generator
    assert next(generator).word == "中文"
