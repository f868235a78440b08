#!/usr/bin/python3
"""Person and place names on prose that nothing here was trained on.

  bench/eval/names_dev.py --build BUILD_DIR --set DIR [--data DIR] [--work DIR]
                          [--no-jieba] [--dump FILE]

DIR is a development set of real sentences with gold person and place spans
and its scorer (sentences.jsonl, persons.txt, places.txt, score.py; the set's
README describes them). Nothing of it is read by the data build: it only
measures. Ours is the library of BUILD_DIR (configured with
-DTESQ_BUILD_BENCH=ON, for bench/eval/names_probe) on the data of --data
(default BUILD_DIR/data); the peer is python jieba's posseg, HMM on.

Rows:
  running text   every sentence through Tesquin_Search_Essay (tag 21 person,
                 22 place, 23 organisation; jieba nr/nrt/nrfg, ns, nt), scored
                 by the set's score.py;
  single words   every name of persons.txt alone through
                 Tesquin_Search_Singleword (人名; jieba: one word tagged nr,
                 nrt or nrfg), apart for the names the lexicon holds and lacks;
  places         every official name of places.txt in "他出生于X。": one word
                 of exactly its span tagged 22 (jieba: ns), apart for the names
                 the lexicon holds and all.

Run it with /usr/bin/python3 (Debian's python3-jieba).
"""
import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from names_eval import Jieba, Ours, parse_segmentation, pct  # noqa: E402

KIND_OF_TAG = {21: 'person', 22: 'place', 23: 'org'}
KIND_OF_FLAG = {'nr': 'person', 'nrt': 'person', 'nrfg': 'person', 'ns': 'place', 'nt': 'org'}
PLACE_SENTENCE = '他出生于{}。'

ROWS = [
    ('persons in running text', 'person: all'),
    ('two-character names', 'person: 2 characters'),
    ('three-character names', 'person: 3 characters'),
    ('names at the sentence start', 'person: at sentence start'),
    ('names not at the sentence start, outside the note', 'person: ... elsewhere in the sentence'),
    ('names in the note', None),
    ('other poets\' names (secondary)', "other poets' names (secondary)"),
    ('places other than the modern ones', 'place: other'),
]


def load_jsonl(path):
    with open(path, encoding='utf-8') as f:
        return [json.loads(x) for x in f if x.strip()]


def read_tsv(path):
    with open(path, encoding='utf-8') as f:
        return [line.rstrip('\n').split('\t') for line in f if line.strip()]


def names_of(words, kind_of):
    """[start, end, kind] of the (start, end, tag) words whose tag is a name."""
    return [[a, b, kind_of[t]] for a, b, t in words if t in kind_of]


def score(set_dir, predictions, work, label):
    path = os.path.join(work, 'pred-%s.jsonl' % label)
    with open(path, 'w', encoding='utf-8') as f:
        for sid, names in predictions:
            f.write(json.dumps({'id': sid, 'names': names}, ensure_ascii=False) + '\n')
    numbers = os.path.join(work, 'score-%s.json' % label)
    subprocess.run([sys.executable, os.path.join(set_dir, 'score.py'), path, '--sentences',
                    os.path.join(set_dir, 'sentences.jsonl'), '--json', numbers],
                   check=True, stdout=subprocess.DEVNULL)
    with open(numbers, encoding='utf-8') as f:
        return json.load(f)


def recall(numbers, key):
    if key is None:
        found = [v for k, v in numbers['recall'].items() if '诗 formula' in k]
        return found[0]['found'], found[0]['n'] if found else (0, 0)
    v = numbers['recall'].get(key)
    return (v['found'], v['n']) if v else (0, 0)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--build', required=True)
    ap.add_argument('--set', required=True, help='the development set directory')
    ap.add_argument('--data')
    ap.add_argument('--db')
    ap.add_argument('--work', default='/tmp/names_dev')
    ap.add_argument('--no-jieba', action='store_true')
    ap.add_argument('--dump', help='write every gold person missed and every non-gold name here')
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    args.build = os.path.abspath(args.build)
    data = os.path.abspath(args.data or os.path.join(args.build, 'data'))
    probe = Ours(args.build, data, args.db or os.path.join(data, 'terms.db'))
    sentences = load_jsonl(os.path.join(args.set, 'sentences.jsonl'))
    persons = read_tsv(os.path.join(args.set, 'persons.txt'))
    places = [p for p in read_tsv(os.path.join(args.set, 'places.txt')) if p[1] == 'official']
    jieba = None if args.no_jieba else Jieba()

    essays = probe.ask(args.work, [('essay', s['text']) for s in sentences])
    ours_pred = [(s['id'], names_of(parse_segmentation(a), KIND_OF_TAG)) for s, a in zip(sentences, essays)]
    ours = score(args.set, ours_pred, args.work, 'ours')
    peer = None
    if jieba:
        peer_pred = [(s['id'], names_of(jieba.tagged(s['text'], True), KIND_OF_FLAG)) for s in sentences]
        peer = score(args.set, peer_pred, args.work, 'jieba')

    labels = probe.ask(args.work, [('word', p[0]) for p in persons])
    single = {'1': [0, 0], '0': [0, 0]}
    single_peer = {'1': [0, 0], '0': [0, 0]}
    for (name, in_dict), label in zip(persons, labels):
        single[in_dict][0] += label == '人名'
        single[in_dict][1] += 1
        if jieba:
            words = jieba.tagged(name, True)
            single_peer[in_dict][0] += len(words) == 1 and KIND_OF_FLAG.get(words[0][2]) == 'person'
            single_peer[in_dict][1] += 1

    place_texts = [PLACE_SENTENCE.format(p[0]) for p in places]
    place_answers = probe.ask(args.work, [('essay', t) for t in place_texts])
    at = PLACE_SENTENCE.index('{}')

    def place_found(words, name):
        kinds = KIND_OF_TAG if words and isinstance(words[0][2], int) else KIND_OF_FLAG
        return [at, at + len(name), 'place'] in names_of(words, kinds)
    place_rows = {'1': [0, 0], 'all': [0, 0]}
    place_rows_peer = {'1': [0, 0], 'all': [0, 0]}
    for (name, _, in_dict), text, answer in zip(places, place_texts, place_answers):
        hit = place_found(parse_segmentation(answer), name)
        peer_hit = jieba and place_found(jieba.tagged(text, True), name)
        for key in (['1'] if in_dict == '1' else []) + ['all']:
            place_rows[key][0] += hit
            place_rows[key][1] += 1
            place_rows_peer[key][0] += bool(peer_hit)
            place_rows_peer[key][1] += 1

    def cell(pair):
        return '%5.1f (%d/%d)' % (pct(pair[0], pair[1]), pair[0], pair[1])
    print('| names-dev, recall %% | ours | jieba posseg |')
    print('|---|---:|---:|')
    for title, key in ROWS:
        print('| %s | %s | %s |' % (title, cell(recall(ours, key)), cell(recall(peer, key)) if peer else '-'))
    print('| non-gold names per 1,000 characters (lower is better) | %.1f | %s |'
          % (ours['nongold_per_1000_chars'], '%.1f' % peer['nongold_per_1000_chars'] if peer else '-'))
    print('| persons.txt names the lexicon holds, alone → 人名 | %s | %s |'
          % (cell(single['1']), cell(single_peer['1']) if jieba else '-'))
    print('| persons.txt names the lexicon lacks, alone → 人名 | %s | %s |'
          % (cell(single['0']), cell(single_peer['0']) if jieba else '-'))
    print('| official places in 他出生于X。, lexicon holds | %s | %s |'
          % (cell(place_rows['1']), cell(place_rows_peer['1']) if jieba else '-'))
    print('| official places in 他出生于X。, all | %s | %s |'
          % (cell(place_rows['all']), cell(place_rows_peer['all']) if jieba else '-'))
    print()
    print('non-gold by kind (ours): %s; triage: %s' % (ours['nongold_by_kind'], ours['nongold_triage']))

    if args.dump:
        with open(args.dump, 'w', encoding='utf-8') as out:
            for s, (_, names), answer in zip(sentences, ours_pred, essays):
                found = {tuple(n) for n in names}
                gold = {(p[0], p[1]) for p in s['persons']} | {(p[0], p[1]) for p in s['places']}
                missed = [p[4] for p in s['persons'] if (p[0], p[1], 'person') not in found]
                extra = [s['text'][a:b] + '/' + k for a, b, k in names if (a, b) not in gold]
                if missed or extra:
                    seg = ' '.join('%s/%d' % (s['text'][a:b], t) for a, b, t in parse_segmentation(answer))
                    out.write('%d\tmissed %s\textra %s\t%s\n' % (s['id'], ' '.join(missed), ' '.join(extra), seg))
            for (name, in_dict), label in zip(persons, labels):
                if label != '人名':
                    out.write('word\t%s\t%s\t%s\n' % (name, in_dict, label))


if __name__ == '__main__':
    main()
