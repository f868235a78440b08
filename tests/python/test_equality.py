"""The package answers as tesq does: every word's label, every query's document, every essay's
words with their tags and byte spans, and the items of a query as tesq serve gives them."""
import json

import tesqsrch
from conftest import as_tesq_prints, tesq


def test_labels_equal_tesq_word(corpus):
    words, _, _ = corpus
    for word in words:
        status, out, _ = tesq("word", word)
        assert status in (0, 3), word
        expected = out.rstrip("\n") if status == 0 else None
        assert tesqsrch.label(word) == expected, word


def test_documents_equal_tesq_search(corpus):
    _, queries, _ = corpus
    for query in queries:
        status, out, _ = tesq("search", query)
        assert status == 0, query
        assert tesqsrch.analyze_xml(query) == out.rstrip("\n"), query


def test_items_are_the_words_of_the_document(corpus):
    """Each query word is one item, or a leading name and its rest ("全文") of one word_index."""
    _, queries, _ = corpus
    for query in queries:
        items = tesqsrch.analyze(query)
        words = query.split(" ")
        assert [i.word_index for i in items] == sorted(i.word_index for i in items)
        for index, word in enumerate(words):
            parts = [i for i in items if i.word_index == index]
            assert "".join(p.word for p in parts) == word, query
            assert len(parts) in (1, 2)
            if len(parts) == 2:
                assert parts[1].label == "全文"
        document = tesqsrch.analyze_xml(query)
        assert [f'\t<Word p="{i.label}">{i.word}</Word>' for i in items] == \
            [line for line in document.split("\n") if line.startswith("\t<Word")]


def test_a_leading_name_and_its_rest():
    items = tesqsrch.analyze("王小明 北京大学图书馆 浙江省自然科学基金资助项目")
    assert items == [("王小明", "人名", 0), ("北京大学图书馆", "机构名", 1), ("浙江省自然科学基金", "基金", 2),
                     ("资助项目", "全文", 2)]


def test_empty_words_between_spaces_are_items():
    items = tesqsrch.analyze("1234-5679  xyz")
    assert items == [("1234-5679", "ISSN", 0), ("", "全文", 1), ("xyz", "全文", 2)]


def essay_json(tokens):
    return [{"text": as_tesq_prints(t.text), "tag": t.tag, "tag_name": t.tag_name, "start": t.byte_start, "end": t.byte_end}
            for t in tokens]


def test_essays_equal_tesq_essay(corpus):
    _, _, essays = corpus
    for text in essays:
        status, out, err = tesq("essay", "--format", "json", stdin=text.encode("utf-8"))
        assert status == 0, (text, err)
        expected = [json.loads(line) for line in out.splitlines()]
        tokens = tesqsrch.essay(text)
        assert essay_json(tokens) == expected, text
        assert "".join(t.text for t in tokens) == text
        assert all(text[t.start:t.end] == t.text for t in tokens)


def test_tag_names_are_the_tools():
    rows = {1: "adjective", 8: "adverb", 18: "numeral", 21: "person", 22: "place", 23: "organisation",
            27: "preposition", 29: "pronoun", 37: "conjunction", 38: "auxiliary", 39: "modal particle",
            40: "interjection", 41: "punctuation", 0: "tag0", 2: "tag2", 42: "tag42", 43: "tag43"}
    for tag, name in rows.items():
        assert tesqsrch.tag_name(tag) == name


def test_the_two_aliases_of_the_library_table():
    """A1A4 and A1AA read as U+00B7 and U+2014, as the library reads them; U+30FB and U+2015 are
    taken for them on the way in."""
    assert [t.text for t in tesqsrch.essay("·—")] == ["·", "—"]
    assert [t.byte_end for t in tesqsrch.essay("\u30fb\u2015")] == [2, 4]
    status, out, _ = tesq("essay", "--format", "json", stdin="\u30fb\u2015".encode("utf-8"))
    assert [json.loads(line)["text"] for line in out.splitlines()] == ["·", "—"]
