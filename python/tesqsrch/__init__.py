"""tesqsrch: query analysis for Chinese literature database search, in UTF-8 `str`.

    >>> import tesqsrch
    >>> tesqsrch.label("9787111123453")
    'ISBN'
    >>> [(i.word, i.label) for i in tesqsrch.analyze("计算机科学 1234-5679")]
    [('计算机科学', '主题词'), ('1234-5679', 'ISSN')]

label(word)        the category of one word, or None (Tesquin_Search_Singleword)
analyze(query)     the items of a query of space-separated words (Tesquin_Search)
analyze_xml(query) the query document itself
essay(text)        tokens of a text of any size, names merged (Tesquin_Search_Essay)
posseg.cut(text)   (word, flag) pairs shaped like jieba.posseg's

The library is initialised on first use, or by init(data_dir=..., db=...); the environment
variables are the tool's (TESQ_DATA_DIR, TESQ_DB, ...), and TESQ_LIBRARY names the library file.
Text is converted to and from GB2312 here: a character without a GB2312 form raises
EncodingError with its offset.
"""
from ._core import (PIECE_BYTES, EncodingError, InitError, Item, LibraryNotFoundError, TesqError, Token,
                    analyze, analyze_xml, essay, init, iter_essay, label, tag_name, uninit)
from . import posseg

__version__ = "0.1.0"
__all__ = ["PIECE_BYTES", "EncodingError", "InitError", "Item", "LibraryNotFoundError", "TesqError", "Token",
           "analyze", "analyze_xml", "essay", "init", "iter_essay", "label", "posseg", "tag_name", "uninit"]
