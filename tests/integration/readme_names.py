#!/usr/bin/python3
"""Checks the README's table of name recognition examples against the tool.

usage: readme_names.py [--update] README TESQ DATA_DIR

The table lies between the lines <!-- NAME RECOGNITION TABLE --> and
<!-- END NAME RECOGNITION TABLE --> of README. After its header, each row is

  | what it shows | input | `tesq word` output | `tesq search` elements |

where the input is one word (no spaces) given to both `tesq word INPUT`
(Tesquin_Search_Singleword) and `tesq search INPUT` (Tesquin_Search). The
`tesq word` cell is the label printed, or "no category" when the tool exits
with 3; the `tesq search` cell lists the Word elements of the query document
as `LABEL:WORD`, separated by spaces, in one code span. The first column is
free text saying what the row is meant to show, ending in the label expected
("university → 机构名"); it is not compared.

Every row is run and must give exactly the outputs shown. --update rewrites
the two output cells of every row from the current build (after the
dictionaries changed) and warns about rows whose `tesq word` output no longer
is the label the first column expects; review the diff.

DATA_DIR is the data the tool reads (TESQ_DATA_DIR, when set, takes its
place); without the dictionaries there the test is skipped.
"""
import os
import re
import subprocess
import sys
import tempfile

SKIP = 77
BEGIN = '<!-- NAME RECOGNITION TABLE -->'
END = '<!-- END NAME RECOGNITION TABLE -->'
WORD_ELEMENT = re.compile(r'^\t<Word p="([^"]*)">(.*)</Word>$')
NO_CATEGORY = 'no category'


def table_rows(lines):
    """Yields (line index, cells) for each body row of the table."""
    try:
        begin = lines.index(BEGIN)
        end = lines.index(END, begin)
    except ValueError:
        raise SystemExit('readme_names.py: the README has no %s ... %s table' % (BEGIN, END))
    body = [i for i in range(begin + 1, end) if lines[i].startswith('|')]
    if len(body) < 3:
        raise SystemExit('readme_names.py: the table has no rows')
    for i in body[2:]:  # header and its rule first
        cells = [c.strip() for c in lines[i].strip().strip('|').split('|')]
        if len(cells) != 4:
            raise SystemExit('readme_names.py: README line %d: expected 4 cells: %s' % (i + 1, lines[i]))
        yield i, cells


def plain(cell):
    return cell.strip('`').strip()


def run_tesq(tesq, data_dir, args, work):
    env = {k: v for k, v in os.environ.items() if k not in ('TESQ_DB', 'TESQ_DATA_DIR')}
    env['LC_ALL'] = 'C.UTF-8'
    proc = subprocess.run([tesq, args[0], '--data-dir', data_dir] + args[1:], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, cwd=work, timeout=120)
    return proc.returncode, proc.stdout.decode('utf-8'), proc.stderr.decode('utf-8', errors='replace')


def outputs(tesq, data_dir, word, work):
    """The two output cells for one input word."""
    code, out, err = run_tesq(tesq, data_dir, ['word', word], work)
    if code == 0:
        word_cell = out.strip()
    elif code == 3:
        word_cell = NO_CATEGORY
    else:
        raise SystemExit('readme_names.py: tesq word %s exited with %d: %s' % (word, code, err.strip()))
    code, out, err = run_tesq(tesq, data_dir, ['search', word], work)
    if code != 0:
        raise SystemExit('readme_names.py: tesq search %s exited with %d: %s' % (word, code, err.strip()))
    elements = []
    for line in out.split('\n'):
        m = WORD_ELEMENT.match(line)
        if m:
            elements.append('%s:%s' % (m.group(1), m.group(2)))
    if not elements:
        raise SystemExit('readme_names.py: tesq search %s printed no Word element:\n%s' % (word, out))
    return word_cell, '`%s`' % ' '.join(elements)


def main(argv):
    update = '--update' in argv
    args = [a for a in argv if a != '--update']
    if len(args) != 3:
        print(__doc__)
        return 2
    readme, tesq, data_dir = args
    tesq = os.path.abspath(tesq)
    data_dir = os.path.abspath(os.environ.get('TESQ_DATA_DIR') or data_dir)
    if not os.path.exists(os.path.join(data_dir, 'name_dic.vdic')):
        print('readme_names.py: no dictionaries in %s; skipped' % data_dir)
        return SKIP
    with open(readme, encoding='utf-8') as f:
        lines = f.read().split('\n')

    failures = 0
    rows = 0
    with tempfile.TemporaryDirectory() as work:  # Tesquin_Search writes as.txt here
        for i, cells in table_rows(lines):
            rows += 1
            what, word, shown_word, shown_search = cells
            word = plain(word)
            if not word or ' ' in word:
                raise SystemExit('readme_names.py: README line %d: the input must be one word' % (i + 1))
            word_cell, search_cell = outputs(tesq, data_dir, word, work)
            if update:
                expected = what.rsplit('→', 1)[-1].strip() if '→' in what else None
                if expected and word_cell != expected:
                    print('warning: README line %d: %s gives %s, the row expects %s' % (i + 1, word, word_cell,
                                                                                       expected))
                lines[i] = '| %s | %s | %s | %s |' % (what, cells[1], word_cell, search_cell)
                continue
            if plain(shown_word) != word_cell or shown_search != search_cell:
                failures += 1
                print('README line %d, %s:\n  shown:  %s | %s\n  actual: %s | %s' % (
                    i + 1, word, shown_word, shown_search, word_cell, search_cell))
    if update:
        with open(readme, 'w', encoding='utf-8') as f:
            f.write('\n'.join(lines))
        print('readme_names.py: rewrote %d rows of %s' % (rows, readme))
        return 0
    print('readme_names.py: %d rows, %d differ' % (rows, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
