"""The library's three questions in `str`, converted to and from GB2312 here.

GB2312 conversion uses Python's codec with the library's own reading of two
positions: A1A4 is U+00B7 and A1AA is U+2014 (the codec reads U+30FB and
U+2015, which are still accepted on the way in, as the library accepts them).

Initialisation happens once, under a lock, on the first call or by init();
after os.fork() the child keeps the parent's initialised library (the term
table's copy included) and gets a fresh lock.
"""
import ctypes
import gc
import os
import re
import threading
from functools import partial
from itertools import accumulate
from typing import Iterator, List, NamedTuple, Optional

from . import _library

__all__ = ["TesqError", "InitError", "EncodingError", "LibraryNotFoundError", "Item", "Token", "init",
           "uninit", "label", "analyze", "analyze_xml", "essay", "iter_essay", "tag_name", "PIECE_BYTES"]

LibraryNotFoundError = _library.LibraryNotFoundError

# Essays are segmented in pieces of at most this many GB2312 bytes, cut where
# tesq essay cuts them, so the two give the same words.
PIECE_BYTES = 64 * 1024

_TO_LIBRARY = {0x00B7: 0x30FB, 0x2014: 0x2015}
_FROM_LIBRARY = {0x30FB: 0x00B7, 0x2015: 0x2014}
_DICTIONARIES = ("foreign_dic", "name_dic", "org_dic", "fund_dic", "place")
_TAG_NAMES = {1: "adjective", 8: "adverb", 18: "numeral", 21: "person", 22: "place", 23: "organisation",
              27: "preposition", 29: "pronoun", 37: "conjunction", 38: "auxiliary", 39: "modal particle",
              40: "interjection", 41: "punctuation"}
_LABEL_BYTES = 256


class TesqError(Exception):
    """The library failed, or could not be started."""


class InitError(TesqError):
    """Tesquin_Init failed: `code` is its result, the message says which file and why."""

    def __init__(self, message: str, code: int):
        super().__init__(message)
        self.code = code


class EncodingError(TesqError, ValueError):
    """Text that cannot be given to the library: `offset` is the character's index in the str given."""

    def __init__(self, message: str, offset: int, character: str):
        super().__init__(message)
        self.offset = offset
        self.character = character


class Item(NamedTuple):
    """One item of a query document: a word (or the name that leads it, or its rest) with its label.

    `word_index` is the index of the query word (split at single spaces) the item comes from; a word
    split into a name and its rest gives two items of one `word_index`, the rest labelled "全文".
    """
    word: str
    label: str
    word_index: int


class Token(NamedTuple):
    """One word of an essay: `start`/`end` are character offsets into the str given
    (text == given[start:end]); `byte_start`/`byte_end` its span in the GB2312 text."""
    text: str
    tag: int
    tag_name: str
    start: int
    end: int
    byte_start: int
    byte_end: int


def tag_name(tag: int) -> str:
    """The name of a tag number, as `tesq essay --format json` prints it ("tag<N>" for the others)."""
    return _TAG_NAMES.get(tag) or f"tag{tag}"


def _encode(text: str, offset: int = 0) -> bytes:
    if not isinstance(text, str):
        raise TypeError(f"expected str, not {type(text).__name__}")
    if text.isascii():
        data = text.encode("ascii")
    else:
        try:
            if "\u00b7" in text or "\u2014" in text:
                text = text.translate(_TO_LIBRARY)
            data = text.encode("gb2312")
        except UnicodeEncodeError as error:
            ch = text[error.start]
            raise EncodingError(f"character U+{ord(ch):04X} '{ch}' at offset {offset + error.start} "
                                f"has no GB2312 form", offset + error.start, ch) from None
    if b"\0" in data:
        at = text.index("\0")
        raise EncodingError(f"the text contains a NUL character at offset {offset + at}", offset + at, "\0")
    return data


def _decode(data: bytes) -> str:
    text = data.decode("gb2312", errors="replace")
    if not text.isascii() and ("\u30fb" in text or "\u2015" in text):
        text = text.translate(_FROM_LIBRARY)
    return text


class _State:
    lib = None
    path = None
    ready = False
    lock = threading.Lock()


def _after_fork_in_child():
    _State.lock = threading.Lock()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_after_fork_in_child)


def _check_options(data_dir, db):
    if data_dir is not None:
        data_dir = os.fspath(data_dir)
        if not os.path.exists(data_dir):
            raise InitError(f"data directory '{data_dir}' does not exist", -1)
        if not os.path.isdir(data_dir):
            raise InitError(f"data directory '{data_dir}' is not a directory", -1)
    if db is not None:
        db = os.fspath(db)
        if not db.startswith(("postgresql://", "postgres://")):
            if not os.path.exists(db):
                raise InitError(f"term database '{db}' does not exist", -1)
            if not os.path.isfile(db):
                raise InitError(f"term database '{db}' is not a regular file", -1)
    return data_dir, db


def _init_message(lib, code):
    if code == -1:
        what = "the dictionary service failed to start"
    elif -6 <= code <= -2:
        what = f"loading the dictionary '{_DICTIONARIES[-code - 2]}' failed"
    else:
        what = f"initialisation failed ({code})"
    reason = b""
    if hasattr(lib, "Dict_Last_Error"):
        reason = lib.Dict_Last_Error() or b""
    if reason:
        return f"{what}: {reason.decode('utf-8', errors='replace')}"
    where = os.environ.get("TESQ_DATA_DIR") or "the library's default data directory"
    return f"{what}: data directory {where}"


def init(data_dir: Optional[str] = None, db: Optional[str] = None) -> None:
    """Initialises the library (Tesquin_Init), once; later calls without options do nothing.

    `data_dir` and `db` set TESQ_DATA_DIR and TESQ_DB as `tesq --data-dir/--db` do (a PostgreSQL
    URI is passed on as it is). Given to an initialised library they start it again with them:
    do that while no other thread is analysing. Raises LibraryNotFoundError when the library is
    not found, InitError when the options are wrong or Tesquin_Init fails (which file and why).
    """
    data_dir, db = _check_options(data_dir, db)
    with _State.lock:
        if _State.lib is None:
            _State.lib, _State.path = _library.load()
        if _State.ready and data_dir is None and db is None:
            return
        if _State.ready:
            _State.lib.Tesquin_UnInit()
            _State.ready = False
        if data_dir is not None:
            os.environ["TESQ_DATA_DIR"] = data_dir
        if db is not None:
            os.environ["TESQ_DB"] = db
        code = _State.lib.Tesquin_Init(0)
        if code != 0:
            raise InitError(_init_message(_State.lib, code), code)
        _State.ready = True


def uninit() -> None:
    """Releases the library's data (Tesquin_UnInit); the next call initialises it again.
    Call it while no other thread is analysing."""
    with _State.lock:
        if _State.ready:
            _State.lib.Tesquin_UnInit()
            _State.ready = False


def _lib():
    if not _State.ready:
        init()
    return _State.lib


_local = threading.local()


def _label_call():
    """This thread's output buffer and size for Tesquin_Search_Singleword, made once: a call
    allocates no ctypes object, so it gives the cycle collector nothing to count."""
    call = getattr(_local, "label", None)
    if call is None:
        size = ctypes.c_uint32(_LABEL_BYTES)
        call = _local.label = (ctypes.create_string_buffer(_LABEL_BYTES), size, ctypes.byref(size))
    return call


def label(word: str) -> Optional[str]:
    """The category label of one word (Tesquin_Search_Singleword), or None when it has none.

    >>> label("9787111123453")
    'ISBN'
    """
    data = _encode(word)
    lib = _State.lib if _State.ready else _lib()
    buffer, size, size_ref = _label_call()
    size.value = _LABEL_BYTES
    result = lib.Tesquin_Search_Singleword(data, buffer, size_ref)
    if result == 2:  # a stored label longer than the usual buffer
        buffer = ctypes.create_string_buffer(size.value)
        result = lib.Tesquin_Search_Singleword(data, buffer, ctypes.byref(size))
    if result == 0:
        return _decode(buffer.value)
    if result == 3:
        return None
    raise TesqError(f"classifying the word {word!r} failed (result {result})")


def _document(query: str) -> tuple:
    """The GB2312 query and its document."""
    data = _encode(query)
    lib = _lib()
    # Room for any document of this query, so that its words are classified
    # (and traced into as.txt) once: each word's element with a long label.
    capacity = 256 + 2 * len(data) + (data.count(b" ") + 1) * 2 * (40 + _LABEL_BYTES)
    buffer = ctypes.create_string_buffer(capacity)
    size = ctypes.c_uint32(capacity)
    result = lib.Tesquin_Search(data, buffer, ctypes.byref(size))
    if result == 1:
        buffer = ctypes.create_string_buffer(size.value)
        result = lib.Tesquin_Search(data, buffer, ctypes.byref(size))
    if result != 0:
        raise TesqError(f"analysing the query {query!r} failed (result {result})")
    return data, buffer.value


def analyze_xml(query: str) -> str:
    """The XML query document of Tesquin_Search, as a str (its declaration still says gb2312).

    Every word is also traced into as.txt in the current directory, as the library does.
    """
    return _decode(_document(query)[1])


_WORD_LINE = re.compile(rb'\t<Word p="([^"]*)">(.*)</Word>')


def analyze(query: str) -> List[Item]:
    """The items of the query document (Tesquin_Search): each word with its label, a word whose
    leading part is a name given as that name and its rest ("全文") of one `word_index`.

    Every word is also traced into as.txt in the current directory, as the library does.
    """
    data, document = _document(query)
    elements = [match.groups() for match in map(_WORD_LINE.fullmatch, document.split(b"\n")) if match]
    items = []
    j = 0
    words = data.split(b" ")
    for index, word in enumerate(words):
        if j >= len(elements):
            break
        item_label, text = elements[j]
        j += 1
        items.append(Item(_decode(text), _decode(item_label), index))
        if text != word and j < len(elements) and text + elements[j][1] == word:
            items.append(Item(_decode(elements[j][1]), _decode(elements[j][0]), index))
            j += 1
    for item_label, text in elements[j:]:  # never expected; kept rather than lost
        items.append(Item(_decode(text), _decode(item_label), len(words) - 1))
    return items


_SOFT_ASCII = " \t\r,.;:!?"
_SOFT = re.compile("[" + re.escape(_SOFT_ASCII) + "".join(
    re.escape(bytes([0xA1, c]).decode("gb2312").translate(_FROM_LIBRARY)) for c in range(0xA1, 0xFF)) +
    "".join(re.escape(bytes([0xA3, c]).decode("gb2312")) for c in (0xA1, 0xAC, 0xAE, 0xBA, 0xBB, 0xBF)) + "]")


def _gb_length(text: str, end: int) -> int:
    """Bytes of text[:end] in GB2312: one per ASCII character, two for the others."""
    return 2 * end - len(text[:end].encode("ascii", errors="ignore"))


def _pieces(text: str, limit: int) -> Iterator[tuple]:
    """Yields (start, end) character spans of the pieces tesq essay cuts: at most `limit` bytes,
    after a line feed in the second half, else after white space or punctuation there, else at
    the last character that fits."""
    start = 0
    half = limit // 2
    while start < len(text):
        window = text[start:start + limit]
        if start + limit >= len(text) and _gb_length(window, len(window)) <= limit:
            yield start, len(text)
            return
        low, high = 0, len(window)  # the longest prefix that fits in `limit` bytes
        while low < high:
            middle = (low + high + 1) // 2
            if _gb_length(window, middle) <= limit:
                low = middle
            else:
                high = middle - 1
        fit = low
        cut = window.rfind("\n", 0, fit) + 1
        if cut == 0 or _gb_length(window, cut) <= half:
            soft = _SOFT.search(window[:fit][::-1])
            cut = fit - soft.start() if soft else 0
            if cut == 0 or _gb_length(window, cut) <= half:
                cut = fit
        yield start, start + cut
        start += cut


_HIGH_BYTES = bytes(int(b >= 0x80) for b in range(256))


def _segment(lib, piece: str, char_base: int, byte_base: int) -> List[Token]:
    """The tokens of one piece, built column by column: per token only list indexing is done in
    Python, which keeps the cost per word near the library's own."""
    data = _encode(piece, char_base)
    count = len(data) + 1
    ends = (ctypes.c_int32 * count)()
    tags = (ctypes.c_int16 * count)()
    result = lib.Tesquin_Search_Essay(data, ends, count, 0, 0, tags)
    if result not in (0, 4):  # 4: names stood too close to be merged; that part is unmerged
        raise TesqError(f"segmentation failed near offset {char_base} (result {result})")
    byte_ends = memoryview(ends).cast("B").cast("i").tolist()
    words = byte_ends.index(0) if 0 in byte_ends else count
    byte_ends = byte_ends[:words]
    tag_list = memoryview(tags).cast("B").cast("h").tolist()[:words]
    byte_starts = [0] + byte_ends[:-1]
    if not all(map(int.__lt__, byte_starts, byte_ends)) or (byte_ends and byte_ends[-1] > len(data)):
        at = next((i for i, (s, e) in enumerate(zip(byte_starts, byte_ends)) if e <= s or e > len(data)))
        raise TesqError(f"the library returned a word ending at byte {byte_base + byte_ends[at]} "
                        f"after byte {byte_base + byte_starts[at]}")
    if not byte_ends or byte_ends[-1] < len(data):
        # Bytes the segmentation does not cover stay visible as a word of
        # tag 0 rather than vanish.
        byte_starts.append(byte_ends[-1] if byte_ends else 0)
        byte_ends.append(len(data))
        tag_list.append(0)
    if data.isascii():
        char_ends = byte_ends
    else:
        # A character is one byte or two bytes of 0x80 and above: the
        # character offset of a byte offset is it less half the high bytes
        # before it.
        high = list(accumulate(data.translate(_HIGH_BYTES)))
        char_ends = [e - (high[e - 1] >> 1) for e in byte_ends]
    char_starts = [0] + char_ends[:-1]
    texts = list(map(piece.__getitem__, map(slice, char_starts, char_ends)))
    names = [_TAG_NAMES.get(t) or f"tag{t}" for t in tag_list]
    if char_base:
        char_starts = [c + char_base for c in char_starts]
        char_ends = [c + char_base for c in char_ends]
    if byte_base:
        byte_starts = [b + byte_base for b in byte_starts]
        byte_ends = [b + byte_base for b in byte_ends]
    # The tokens hold no references to containers, so they cannot form a
    # cycle: the collector, which would otherwise walk every token made so
    # far again and again, is held off while they are made.
    collecting = gc.isenabled()
    gc.disable()
    try:
        return list(map(_make_token, zip(texts, tag_list, names, char_starts, char_ends, byte_starts, byte_ends)))
    finally:
        if collecting:
            gc.enable()


_make_token = partial(tuple.__new__, Token)


def iter_essay(text: str, piece_bytes: int = PIECE_BYTES) -> Iterator[Token]:
    """Yields the tokens of essay(text) piece by piece, holding one piece in GB2312 at a time.

    A character that cannot be given to the library raises EncodingError when its piece is reached,
    after the tokens before it."""
    if not isinstance(text, str):
        raise TypeError(f"expected str, not {type(text).__name__}")
    lib = _lib()
    byte_base = 0
    for start, end in _pieces(text, max(2, piece_bytes)):
        piece = text[start:end]
        yield from _segment(lib, piece, start, byte_base)
        byte_base += _gb_length(piece, len(piece))


def essay(text: str) -> List[Token]:
    """Segments a text of any size (Tesquin_Search_Essay, text mode) with every recognised person,
    place and organisation name merged into one token tagged 21, 22 or 23.

    >>> [(t.text, t.tag_name) for t in essay("王小明在北京。")][0]
    ('王小明', 'person')
    """
    return list(iter_essay(text))
