"""A drop-in for jieba.posseg: `from tesqsrch import posseg` in place of `import jieba.posseg as posseg`.

cut(sentence) yields pair objects (word, flag) as jieba.posseg.cut does; lcut gives the list. The
words are tesqsrch.essay's, names merged; the flag of a tag number is the lexicon's first tag of
it (FLAGS): nr person, ns place, nt organisation, n noun, v verb, ..., x punctuation, white space
and unknown characters, eng letters.
"""
from typing import Iterator, List

from ._core import iter_essay

__all__ = ["FLAGS", "pair", "cut", "lcut", "flag"]

# Tag number -> jieba flag.
FLAGS = {1: "a", 2: "n", 3: "v", 4: "vn", 5: "nz", 6: "ng", 7: "i", 8: "d", 9: "l", 10: "j", 11: "t",
         12: "tg", 13: "s", 14: "f", 15: "b", 16: "z", 17: "zg", 18: "m", 19: "q", 20: "vq", 21: "nr",
         22: "ns", 23: "nt", 24: "vg", 25: "vd", 26: "vi", 27: "p", 28: "k", 29: "r", 30: "h", 31: "g",
         32: "x", 37: "c", 38: "u", 39: "y", 40: "e", 41: "x", 42: "eng", 43: "x"}


def flag(tag: int) -> str:
    """The jieba flag of a tag number ("x" for a number with none)."""
    return FLAGS.get(tag, "x")


class pair:
    """A word and its flag, as jieba.posseg's pair: unpacks as (word, flag), prints as word/flag."""
    __slots__ = ("word", "flag")

    def __init__(self, word: str, flag: str):
        self.word = word
        self.flag = flag

    def __iter__(self):
        return iter((self.word, self.flag))

    def __str__(self):
        return f"{self.word}/{self.flag}"

    def __repr__(self):
        return f"pair({self.word!r}, {self.flag!r})"

    def __eq__(self, other):
        return isinstance(other, pair) and self.word == other.word and self.flag == other.flag

    def __lt__(self, other):
        return self.word < other.word

    def __hash__(self):
        return hash((self.word, self.flag))


def cut(sentence: str, HMM: bool = True, use_paddle: bool = False) -> Iterator[pair]:
    """Yields the pairs of `sentence`. HMM and use_paddle are taken for jieba's signature and ignored."""
    for token in iter_essay(sentence):
        yield pair(token.text, FLAGS.get(token.tag, "x"))


def lcut(sentence: str, HMM: bool = True, use_paddle: bool = False) -> List[pair]:
    """The list of cut(sentence)."""
    return list(cut(sentence))
