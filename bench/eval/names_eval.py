#!/usr/bin/python3
"""Name recognition on real names and running text, ours beside jieba.

  bench/eval/names_eval.py --build BUILD_DIR [--data DIR] [--work DIR]
                           [--set test|dev] [--no-fold | --fold-only] [--no-jieba]

Ours is the library of BUILD_DIR (configured with -DTESQ_BUILD_BENCH=ON, for
bench/eval/names_probe) on the data of --data (default BUILD_DIR/data): the
whole jieba lexicon in the segmenter, as deployed. The peer is python jieba's
posseg, HMM on and off, with its own whole dictionary.

The sets, all built here from public Debian text (nothing is written into the
source tree; --work, default /tmp/names_eval, receives them):
  persons   real names: the clean person entries of the jieba lexicon (a
            surname of friso-dict's lex-lname.lex and given characters of its
            given-name lists) and names of the same lists that the lexicon does
            not hold ("unknown"); put into hand-written sentences, at the
            start or inside.
  common    the 20 common two-character names.
  places    friso-dict's lex-cn-place.lex, in hand-written sentences.
  ordinary  lexicon words of ordinary tags, as single words.
  prose     the zh_CN manual pages (tools/vornel_corpus.py render).
  poets     the authors of fortunes-zh's Tang and Song poems, alone and in
            the person sentences (not halved).
Each set of names is split in two by a hash of the name (FNV-1a of its UTF-8
bytes, its bits 40 and up): the dev half is for tuning, the test half (the default --set) is not
tuned on.

The secondary table is the lexicon fold: a hashed tenth of the lexicon's words
of two characters or more (FNV-1a of the GB2312 bytes, modulo 10, fold 0) out
of training and out of both
segmenters' dictionaries, the dictionaries built from the rest by
BUILD_DIR/tools/tesq/tesq build-dicts (with
friso-dict's name lists, as the data build does).

Run it with /usr/bin/python3 (Debian's python3-jieba).
"""
import argparse
import os
import re
import subprocess
import sys

JIEBA_DICT = '/usr/lib/python3/dist-packages/jieba/dict.txt'
FRISO = '/usr/share/friso/dict/UTF-8'
FORTUNES = '/usr/share/games/fortunes'
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

COMMON_NAMES = '王丽 李明 张伟 王芳 刘洋 陈静 杨帆 赵磊 黄勇 周杰 吴刚 徐静 孙丽 马超 朱军 胡斌 郭亮 林峰 何平 高翔'.split()

# Hand-written sentences around a person name ({}): at the start, and inside.
PERSON_START = [
    '{}教授在会上作了报告。', '{}是这个项目的负责人。', '{}昨天去了上海。', '{}认为这个方法可行。',
    '{}在实验室工作了十年。', '{}和他的学生完成了这项研究。', '{}说明天再来。', '{}发表了三篇论文。',
    '{}担任研究所所长。', '{}今年六十岁。', '{}向大家介绍了经验。', '{}获得了一等奖。',
]
PERSON_INSIDE = [
    '这本书的作者是{}。', '会议由{}主持。', '我们请{}介绍经验。', '据{}介绍，工程进展顺利。',
    '记者{}报道。', '他的老师{}是一位数学家。', '昨天下午{}来到北京。', '学校派{}参加比赛。',
    '本文由{}翻译。', '大家都很尊敬{}老师。', '经理让{}负责这件事。', '我和{}是同学。',
    '通讯作者：{}，男，博士。', '今天{}没有来上课。', '她把信交给了{}。', '主编{}审阅了全文。',
]
PLACE_SENTENCES = [
    '我去过{}。', '他出生在{}。', '{}的人口有所增加。', '代表团从{}出发。', '这家工厂位于{}。',
    '{}今年的雨水很多。', '我们在{}住了三天。', '他把家搬到了{}。',
]
# The lexicon fold's sentence templates.
FOLD_TEMPLATES = ['记者{}报道', '在{}召开', '{}发布通知']

NAME_TAGS = (21, 22, 23)
JIEBA_PERSON = ('nr', 'nrt', 'nrfg')
JIEBA_NAME = JIEBA_PERSON + ('ns', 'nt')
ORDINARY_TAGS = {'n', 'v', 'a', 'vn', 'l', 'i'}


def fnv1a(data):
    h = 14695981039346656037
    for b in data:
        h ^= b
        h = (h * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return h


def half(name):
    # The high bits: the sets are drawn by the low ones (h % k).
    return 'test' if (fnv1a(name.encode('utf-8')) >> 40) % 2 == 0 else 'dev'


def gb_ok(text):
    try:
        text.encode('gb2312')
        return True
    except UnicodeEncodeError:
        return False


def friso_list(name):
    out = []
    with open(os.path.join(FRISO, name), encoding='utf-8') as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith('#'):
                continue
            out.append(line.split('/')[0])
    return out


def read_lexicon(path=JIEBA_DICT):
    entries = []
    with open(path, encoding='utf-8') as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2:
                entries.append((parts[0], int(parts[1]), parts[2] if len(parts) > 2 else 'x'))
    return entries


# ---------------------------------------------------------------- the sets

def build_sets(lexicon):
    words = {w for w, _, _ in lexicon}
    surnames = [s for s in friso_list('lex-lname.lex') if len(s) == 1]
    given1 = [c for c in friso_list('lex-sname.lex') if len(c) == 1]
    first2 = [c for c in friso_list('lex-dname-1.lex') if len(c) == 1]
    second2 = [c for c in friso_list('lex-dname-2.lex') if len(c) == 1]
    given_any = set(given1) | set(first2) | set(second2)
    surname_set = set(surnames)
    common = set(COMMON_NAMES)

    persons = {}  # name -> 'known' | 'unknown'
    # The lexicon's person entries are noisy (丛林, 乌云 are tagged nr): a
    # known name has one of the hundred most common surnames, given
    # characters of the lists, and a frequency below 100; a quarter of the
    # three-character ones are taken (by hash), so that two- and
    # three-character names weigh alike.
    top = surnames[:100]
    top_set = set(top)
    freq = {w: f for w, f, _ in lexicon}
    for w, f, t in lexicon:
        if t == 'nr' and len(w) in (2, 3) and w[0] in top_set and all(c in given_any for c in w[1:]) \
                and f < 100 and gb_ok(w) and w not in common \
                and (len(w) == 2 or fnv1a(w.encode('utf-8')) % 4 == 0):
            persons[w] = 'known'
    # Names of the lists that the lexicon does not hold: a fifteenth of the
    # pairs of those surnames with a single given name, and a 1600th of the
    # triples with a double given name, chosen by hash.
    for s in top:
        for g in given1:
            n = s + g
            if n not in freq and n not in common and gb_ok(n) and fnv1a(n.encode('utf-8')) % 15 == 0:
                persons[n] = 'unknown'
        for a in first2:
            for b in second2:
                n = s + a + b
                if n not in freq and gb_ok(n) and fnv1a(n.encode('utf-8')) % 1600 == 0:
                    persons[n] = 'unknown'

    places = sorted({p for p in friso_list('lex-cn-place.lex') if 2 <= len(p) <= 8 and gb_ok(p)})
    nations = {p for p in friso_list('lex-nation.lex') if gb_ok(p)}

    ordinary = sorted({w for w, f, t in lexicon if t in ORDINARY_TAGS and len(w) >= 2 and gb_ok(w)
                       and fnv1a(w.encode('utf-8')) % 10 == 0})
    return persons, places, nations, ordinary


def person_items(persons, which):
    items = []
    for name in sorted(persons):
        if half(name) != which:
            continue
        h = fnv1a(name.encode('utf-8'))
        for pool, at_start in ((PERSON_START, True), (PERSON_INSIDE, False)):
            t = pool[h % len(pool)]
            items.append({'name': name, 'kind': persons[name], 'start': at_start, 'text': t.replace('{}', name),
                          'span': (t.index('{}'), t.index('{}') + len(name))})
    return items


def place_items(places, which):
    items = []
    for p in places:
        if half(p) != which:
            continue
        t = PLACE_SENTENCES[fnv1a(p.encode('utf-8')) % len(PLACE_SENTENCES)]
        items.append({'name': p, 'text': t.replace('{}', p), 'span': (t.index('{}'), t.index('{}') + len(p))})
    return items


def prose_lines(work, limit_chars=200000):
    corpus = os.path.join(work, 'corpus.txt')
    if not os.path.exists(corpus) or os.path.getsize(corpus) == 0:
        subprocess.run(['/usr/bin/python3', os.path.join(ROOT, 'tools', 'vornel_corpus.py'), 'render', '--out',
                        corpus], check=True, stdout=subprocess.DEVNULL)
    lines, han = [], 0
    with open(corpus, encoding='utf-8') as f:
        for line in f:
            for s in re.split('[。！？；]', line.strip()):
                s = s.strip()
                n = len(re.findall('[\u4e00-\u9fd5]', s))
                # Every seventh sentence of four Han characters or more.
                if n < 4 or fnv1a(s.encode('utf-8')) % 7 != 0:
                    continue
                lines.append(s)
                han += n
                if han >= limit_chars:
                    return lines, han
    return lines, han


# ------------------------------------------------------------ the two sides

class Ours:
    def __init__(self, build, data, db):
        self.probe = os.path.join(build, 'bench', 'eval', 'names_probe')
        if not os.access(self.probe, os.X_OK):
            sys.exit('names_eval.py: %s is missing (configure with -DTESQ_BUILD_BENCH=ON and build names_probe)'
                     % self.probe)
        self.env = dict(os.environ, TESQ_DATA_DIR=data, TESQ_DB=db)

    def ask(self, work, requests):
        req = os.path.join(work, 'requests.tsv')
        ans = os.path.join(work, 'answers.txt')
        with open(req, 'w', encoding='utf-8') as f:
            for mode, text in requests:
                f.write('%s\t%s\n' % (mode, text))
        subprocess.run([self.probe, req, ans], env=self.env, check=True, cwd=work)
        with open(ans, encoding='utf-8') as f:
            out = [line.rstrip('\n') for line in f]
        if len(out) != len(requests):
            sys.exit('names_eval.py: the probe answered %d of %d requests' % (len(out), len(requests)))
        return out


def parse_segmentation(answer):
    """[(start, end, tag)] in characters."""
    if answer.startswith('!'):
        return []
    words, at = [], 0
    for item in answer.split('\x1e'):
        w, _, tag = item.partition('\x1f')
        words.append((at, at + len(w), int(tag)))
        at += len(w)
    return words


class Jieba:
    def __init__(self, dictionary=JIEBA_DICT):
        import jieba
        import jieba.posseg
        jieba.setLogLevel(60)
        self.tok = jieba.Tokenizer(dictionary=dictionary)
        self.pos = jieba.posseg.POSTokenizer(self.tok)

    def tagged(self, text, hmm):
        out, at = [], 0
        for p in self.pos.cut(text, HMM=hmm):
            out.append((at, at + len(p.word), p.flag))
            at += len(p.word)
        return out


# ------------------------------------------------------------- the measures

def pct(a, n):
    return 100.0 * a / n if n else 0.0


def measure_persons(items, segs, is_person):
    """Hit per item: a word with exactly the name's span carrying a person tag."""
    hits = []
    for item, words in zip(items, segs):
        s, e = item['span']
        hits.append(any(a == s and b == e and is_person(t) for a, b, t in words))
    return hits


def rows_for(items, hits):
    def share(pred):
        sel = [h for it, h in zip(items, hits) if pred(it)]
        return sum(sel), len(sel)
    return {
        'all': share(lambda it: True),
        'two': share(lambda it: len(it['name']) == 2),
        'three': share(lambda it: len(it['name']) == 3),
        'inside': share(lambda it: not it['start']),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[1])
    ap.add_argument('--build', required=True)
    ap.add_argument('--data')
    ap.add_argument('--work', default='/tmp/names_eval')
    ap.add_argument('--set', default='test', choices=('test', 'dev'))
    ap.add_argument('--no-fold', action='store_true')
    ap.add_argument('--fold-only', action='store_true')
    ap.add_argument('--fold-tesq', help='the tesq whose build-dicts trains the fold (default BUILD_DIR\'s)')
    ap.add_argument('--fold-name-lists', default=FRISO,
                    help='the name lists the fold is trained with, "none" for none (default %(default)s)')
    ap.add_argument('--param', action='append', default=[],
                    help='NAME=VALUE for the fold\'s tesq build-dicts (the main table reads --data as built)')
    ap.add_argument('--no-jieba', action='store_true')
    ap.add_argument('--dump', help='write every miss and false name of ours into this file')
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    data = os.path.abspath(args.data or os.path.join(build, 'data'))
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    db = os.path.join(work, 'no-terms.db')  # the recognisers alone: no known terms

    lexicon = read_lexicon()
    if args.fold_only:
        fold_table(build, work, lexicon, not args.no_jieba, args.dump, fold_build_args(args))
        return
    persons, places, nations, ordinary = build_sets(lexicon)
    p_items = person_items(persons, args.set)
    unknown = sorted(n for n in persons if persons[n] == 'unknown' and half(n) == args.set)
    pl_items = place_items(places, args.set)
    prose, prose_han = prose_lines(work)
    known_names = set(persons) | set(places) | nations | set(COMMON_NAMES)

    ours = Ours(build, data, db)
    requests = ([('essay', it['text']) for it in p_items] + [('word', n) for n in unknown] +
                [('word', n) for n in COMMON_NAMES] + [('essay', s) for s in prose] +
                [('essay', it['text']) for it in pl_items] + [('word', w) for w in ordinary])
    answers = ours.ask(work, requests)
    k = 0

    def take(n):
        nonlocal k
        part = answers[k:k + n]
        k += n
        return part

    o = {}
    segs = [parse_segmentation(a) for a in take(len(p_items))]
    o['persons'] = rows_for(p_items, measure_persons(p_items, segs, lambda t: t == 21))
    person_misses = [(it['text'], segs[i]) for i, it in enumerate(p_items)
                     if not measure_persons([it], [segs[i]], lambda t: t == 21)[0]]
    labels = take(len(unknown))
    o['unknown'] = (sum(l == '人名' for l in labels), len(unknown))
    common = take(len(COMMON_NAMES))
    o['common'] = (sum(l == '人名' for l in common), len(COMMON_NAMES))
    o['common_labels'] = common
    false_names = {}
    n_false = 0
    for s, a in zip(prose, take(len(prose))):
        for x, y, t in parse_segmentation(a):
            if t in NAME_TAGS and s[x:y] not in known_names:
                n_false += 1
                false_names[(s[x:y], t)] = false_names.get((s[x:y], t), 0) + 1
    o['prose'] = n_false * 1000.0 / prose_han
    segs_pl = [parse_segmentation(a) for a in take(len(pl_items))]
    o['places'] = (sum(measure_persons(pl_items, segs_pl, lambda t: t == 22)), len(pl_items))
    labels = take(len(ordinary))
    o['ordinary'] = (sum(l not in ('-',) and not l.startswith('!') for l in labels), len(ordinary))
    ordinary_false = [(w, l) for w, l in zip(ordinary, labels) if l != '-']

    j = {}
    if not args.no_jieba:
        jb = Jieba()
        for hmm in (True, False):
            r = {}
            segs = [jb.tagged(it['text'], hmm) for it in p_items]
            r['persons'] = rows_for(p_items, measure_persons(p_items, segs, lambda t: t in JIEBA_PERSON))

            def single_person(n):
                cut = jb.tagged(n, hmm)
                return len(cut) == 1 and cut[0][2] in JIEBA_PERSON
            r['unknown'] = (sum(single_person(n) for n in unknown), len(unknown))
            r['common'] = (sum(single_person(n) for n in COMMON_NAMES), len(COMMON_NAMES))
            nf = 0
            for s in prose:
                for x, y, t in jb.tagged(s, hmm):
                    if t in JIEBA_NAME and s[x:y] not in known_names:
                        nf += 1
            r['prose'] = nf * 1000.0 / prose_han
            segs = [jb.tagged(it['text'], hmm) for it in pl_items]
            r['places'] = (sum(measure_persons(pl_items, segs, lambda t: t == 'ns')), len(pl_items))
            r['ordinary'] = (sum(any(t in JIEBA_NAME for _, _, t in jb.tagged(w, hmm)) for w in ordinary),
                             len(ordinary))
            j[hmm] = r

    def cell(pair, digits=1):
        return '%.*f%% (%d/%d)' % (digits, pct(*pair), pair[0], pair[1])

    print('Set: %s half of the names; prose: %d sentences of the zh_CN manual pages, %d Han characters.'
          % (args.set, len(prose), prose_han))
    print('Ours: %s; the whole lexicon in the segmenter.\n' % data)
    head = '| Measure | Ours |' + ('' if args.no_jieba else ' jieba HMM on | jieba HMM off |') + ' Target |'
    print(head)
    print('|---|---:|' + ('' if args.no_jieba else '---:|---:|') + '---|')

    def row(title, get, target, digits=1):
        line = '| %s | %s |' % (title, get(o) if isinstance(get(o), str) else cell(get(o), digits))
        if not args.no_jieba:
            for hmm in (True, False):
                v = get(j[hmm])
                line += ' %s |' % (v if isinstance(v, str) else cell(v, digits))
        print(line + ' %s |' % target)
    row('Person names in running text, exact span', lambda r: r['persons']['all'], '>= 75%')
    row('... two-character names', lambda r: r['persons']['two'], '>= 70%')
    row('... three-character names', lambda r: r['persons']['three'], '>= 85%')
    row('... names not at the sentence start', lambda r: r['persons']['inside'], '>= 60%')
    row('Person name not in the lexicon, single word: 人名', lambda r: r['unknown'], '>= 75%')
    row('The 20 common names, single word: 人名', lambda r: '%d/20' % r['common'][0], '>= 18/20')
    row('Non-name words tagged 21/22/23, per 1,000 Han characters of prose', lambda r: '%.1f' % r['prose'],
        '<= 50')
    row('Known places in running text, exact span, tag 22', lambda r: r['places'], '>= 91%')
    row('Ordinary lexicon words, single word: a false label', lambda r: r['ordinary'], '<= 0.1%', 2)
    print()
    print('The 20 common names (ours): ' + ' '.join('%s %s' % (n, l) for n, l in zip(COMMON_NAMES,
                                                                                   o['common_labels'])))
    if args.dump:
        with open(args.dump, 'w', encoding='utf-8') as f:
            f.write('# person misses\n')
            for text, words in person_misses:
                f.write('%s\t%s\n' % (text, ' '.join('%s/%d' % (text[a:b], t) for a, b, t in words)))
            f.write('# non-name words tagged 21/22/23 in prose (count)\n')
            for (w, t), c in sorted(false_names.items(), key=lambda x: -x[1]):
                f.write('%s/%d\t%d\n' % (w, t, c))
            f.write('# ordinary words with a label\n')
            for w, l in ordinary_false:
                f.write('%s\t%s\n' % (w, l))
    poets_table(build, data, db, work, not args.no_jieba)
    if not args.no_fold:
        fold_table(build, work, lexicon, not args.no_jieba, args.dump and args.dump + '.fold',
                   fold_build_args(args))


# ------------------------------------------------------- the classical poets

def poets():
    """The authors of fortunes-zh's Tang and Song poems that have a GB2312 form."""
    names = set()
    for name in ('tang300.u8', 'song100.u8'):
        path = os.path.join(FORTUNES, name)
        if not os.path.exists(path):
            return []
        with open(path, encoding='utf-8') as f:
            for line in f:
                m = re.search('作者：([\u4e00-\u9fd5]+)', re.sub('\x1b\\[[0-9;]*m', '', line))
                if m:
                    names.add(m.group(1))
    # 无名氏 is "anonymous"; 僧皎然 is the monk 皎然.
    return sorted(n for n in names if gb_ok(n) and n not in ('无名氏', '僧皎然'))


def poets_table(build, data, db, work, with_jieba):
    """Names of another kind than the lists': poets of the Tang and Song, alone and in the sentences."""
    names = poets()
    if not names:
        print('\n(fortunes-zh is not installed: no table of classical poets)')
        return
    items = []
    for n in names:
        h = fnv1a(n.encode('utf-8'))
        for pool in (PERSON_START, PERSON_INSIDE):
            t = pool[h % len(pool)]
            items.append({'name': n, 'text': t.replace('{}', n), 'span': (t.index('{}'), t.index('{}') + len(n))})
    answers = Ours(build, data, db).ask(work, [('word', n) for n in names] + [('essay', it['text']) for it in items])
    words = answers[:len(names)]
    segs = [parse_segmentation(a) for a in answers[len(names):]]
    ours = ((sum(l == '人名' for l in words), len(names)),
            (sum(measure_persons(items, segs, lambda t: t == 21)), len(items)))
    print('\nClassical poets: the %d authors of fortunes-zh (tang300, song100) with a GB2312 form.\n' % len(names))
    print('| Measure | Ours |' + (' jieba HMM on |' if with_jieba else ''))
    print('|---|---:|' + ('---:|' if with_jieba else ''))
    theirs = None
    if with_jieba:
        jb = Jieba()

        def single(n):
            cut = jb.tagged(n, True)
            return len(cut) == 1 and cut[0][2] in JIEBA_PERSON
        jsegs = [jb.tagged(it['text'], True) for it in items]
        theirs = ((sum(single(n) for n in names), len(names)),
                  (sum(measure_persons(items, jsegs, lambda t: t in JIEBA_PERSON)), len(items)))
    for k, title in enumerate(('Single word: 人名', 'In the person sentences: exact span, tag 21')):
        line = '| %s | %.1f%% (%d/%d) |' % (title, pct(*ours[k]), ours[k][0], ours[k][1])
        if theirs:
            line += ' %.1f%% |' % pct(*theirs[k])
        print(line)
    print('\nMissed alone (ours): ' + ' '.join(n for n, l in zip(names, words) if l != '人名'))


# ---------------------------------------------------------- the lexicon fold

def fold_build_args(args):
    """(tesq, extra build-dicts arguments) of the fold's training."""
    tesq = args.fold_tesq or os.path.join(os.path.abspath(args.build), 'tools', 'tesq', 'tesq')
    extra = [] if args.fold_name_lists == 'none' else ['--name-lists', args.fold_name_lists]
    senses = os.path.join(os.path.abspath(args.build), 'data-sources', 'word_senses.tsv')
    if extra and os.path.exists(senses):
        extra += ['--senses', senses]  # as the data build does
    return tesq, extra + [a for p in args.param for a in ('--param', p)]


def fold_table(build, work, lexicon, with_jieba, dump=None, training=None, fold=0):
    surnames = {s for s in friso_list('lex-lname.lex') if len(s) == 1}
    given = {c for f in ('lex-sname.lex', 'lex-dname-1.lex', 'lex-dname-2.lex') for c in friso_list(f) if len(c) == 1}
    gb = {}
    for w, _, _ in lexicon:
        if gb_ok(w):
            # A single character is never an unknown word: the segmenter cuts it
            # out whatever its lexicon holds, and the trainer needs its count
            # as a word of its own.
            gb[w] = len(w) >= 2 and fnv1a(w.encode('gb2312')) % 10 == fold
    held = {w for w, v in gb.items() if v}
    fold_dir = os.path.join(work, 'fold')
    os.makedirs(fold_dir, exist_ok=True)
    train = os.path.join(fold_dir, 'train_lexicon.txt')
    total = sum(f for _, f, _ in lexicon)
    with open(train, 'w', encoding='utf-8') as f:
        f.write('#total %d\n' % total)
        for w, fr, t in lexicon:
            if w not in held:
                f.write('%s %d %s\n' % (w, fr, t))
    data = os.path.join(fold_dir, 'data')
    tesq, extra = training
    subprocess.run([tesq, 'build-dicts', '--lexicon', train, '--out', data] + extra, check=True,
                   stdout=subprocess.DEVNULL)
    items = []  # (kind, sentence?, text, span)
    for w, fr, t in lexicon:
        if w not in held or not gb_ok(w):
            continue
        kind = None
        if t == 'nr' and len(w) in (2, 3) and w[0] in surnames and all(c in given for c in w[1:]):
            kind = 'person'  # name-shaped: a surname and given-name characters of the lists
        elif t == 'nt' and len(w) >= 2 and '基金' not in w:
            kind = 'org'
        elif t in ORDINARY_TAGS and len(w) >= 2:
            kind = 'ordinary'
        if kind is None:
            continue
        items.append((kind, False, w, (0, len(w))))
        if kind in ('org', 'ordinary'):
            for tpl in FOLD_TEMPLATES:
                at = tpl.index('{}')
                items.append((kind, True, tpl.replace('{}', w), (at, at + len(w))))
    ours = Ours(build, data, os.path.join(work, 'no-terms.db'))
    requests = []
    for kind, sentence, text, _ in items:
        requests.append(('essay' if sentence else 'word', text))
        if sentence:
            requests.append(('seg', text))
    answers = iter(ours.ask(fold_dir, requests))
    want_label = {'person': '人名', 'org': '机构名'}
    want_tag = {'person': 21, 'org': 23}
    res = []
    for kind, sentence, text, (s, e) in items:
        a = next(answers)
        if not sentence:
            res.append(a == want_label[kind] if kind in want_label else a != '-')
            continue
        plain = {(x, y, t) for x, y, t in parse_segmentation(next(answers))}
        words = parse_segmentation(a)
        if kind == 'ordinary':
            # A name the recognisers merged over the word (not a word of the
            # segmenter's own).
            res.append(any(t in NAME_TAGS and x < e and y > s and (x, y, t) not in plain for x, y, t in words))
        else:
            res.append(any(x == s and y == e and t == want_tag[kind] for x, y, t in words))
    jres = []
    if with_jieba:
        jdict = os.path.join(fold_dir, 'jieba_dict.txt')
        with open(JIEBA_DICT, encoding='utf-8') as f, open(jdict, 'w', encoding='utf-8') as out:
            for line in f:
                if line.split(' ', 1)[0] not in held:
                    out.write(line)
        jb = Jieba(jdict)
        for kind, sentence, text, (s, e) in items:
            cut = jb.tagged(text, True)
            if kind == 'ordinary':
                jres.append(any(t in JIEBA_NAME and x < e and y > s for x, y, t in cut))
            else:
                want = JIEBA_PERSON if kind == 'person' else ('nt',)
                jres.append(any(x == s and y == e and t in want for x, y, t in cut))

    if dump:
        with open(dump, 'w', encoding='utf-8') as f:
            for it, v in zip(items, res):
                f.write('%s\t%s\t%s\t%d\n' % (it[0], 'sentence' if it[1] else 'word', it[2], v))

    def share(kind, sentence, r):
        sel = [v for it, v in zip(items, r) if it[0] == kind and it[1] == sentence]
        return sum(sel), len(sel)
    print('\nLexicon fold %d of 10: %d of %d words out of training and of both dictionaries.\n'
          % (fold, len(held), len(gb)))
    print('| Measure | Ours |' + (' jieba HMM on |' if with_jieba else '') + ' Target |')
    print('|---|---:|' + ('---:|' if with_jieba else '') + '---|')
    for title, kind, sentence, target, digits in (
            ('Persons (nr, 2-3 characters, name-shaped), single word: 人名', 'person', False, '>= 75%', 1),
            ('Organisations (nt), single word: 机构名', 'org', False, '>= 35%', 1),
            ('Organisations, in sentences: exact span, tag 23', 'org', True, '>= 25%', 1),
            ('Ordinary words (n v a vn l i), single word: a false label', 'ordinary', False, '<= 1.0%', 2),
            ('Ordinary words, in sentences: a name merged over the word (false)', 'ordinary', True, '<= 1.0%', 2)):
        a = share(kind, sentence, res)
        line = '| %s | %.*f%% (%d/%d) |' % (title, digits, pct(*a), a[0], a[1])
        if with_jieba:
            b = share(kind, sentence, jres)
            line += ' %.*f%% |' % (digits, pct(*b))
        print(line + ' %s |' % target)


if __name__ == '__main__':
    main()
