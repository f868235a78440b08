#!/bin/sh
# Runs the whole essay pipeline of libtesqsrch (Tesquin_Search_Essay:
# segmentation, the three name recognisers, the merge) and its peers,
# @node-rs/jieba cut(text, false) and tag(text, false) and python jieba
# posseg.cut(HMM=False), on the same text in the same run, and prints a table
# of the time each takes for the whole text, and the essay's linearity (the
# text ten times over in one call against the text once).
#
#   bench/essay/run_peers.sh BUILD_DIR [WORK_DIR]
#
# BUILD_DIR is a build configured with -DTESQ_BUILD_BENCH=ON (essay_peers and
# the built data are used from it, or TESQ_DATA_DIR when set). WORK_DIR
# (default /tmp/essay_bench) receives the rendered corpus (the zh_CN manual
# pages of manpages-zh, rendered by tools/vornel_corpus.py) and the npm
# install of the node peer; nothing is written into the source tree.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: run_peers.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-/tmp/essay_bench}
mkdir -p "$work"

if [ ! -x "$build/bench/essay/essay_peers" ]; then
  echo "run_peers.sh: $build/bench/essay/essay_peers is missing (configure with -DTESQ_BUILD_BENCH=ON and build)" >&2
  exit 1
fi
if [ ! -s "$work/corpus.txt" ]; then
  /usr/bin/python3 "$root/tools/vornel_corpus.py" render --out "$work/corpus.txt"
fi
if [ ! -d "$work/node/node_modules/@node-rs/jieba" ]; then
  mkdir -p "$work/node"
  cp "$root/bench/vornel/node/package.json" "$work/node/package.json"
  (cd "$work/node" && npm install --no-audit --no-fund >/dev/null)
fi

echo "text: $(wc -c < "$work/corpus.txt") bytes UTF-8 ($work/corpus.txt)" >&2
"$build/bench/essay/essay_peers" "$work/corpus.txt" 3 > "$work/essay.json"
NODE_PATH="$work/node/node_modules" node "$here/peer_node_rs_jieba.js" "$work/corpus.txt" 3 > "$work/node.json"
/usr/bin/python3 "$here/peer_jieba_posseg.py" "$work/corpus.txt" 1 > "$work/posseg.json"

/usr/bin/python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
ours = json.load(open(work + '/essay.json'))
node = json.load(open(work + '/node.json'))
posseg = json.load(open(work + '/posseg.json'))
mb = ours['bytes_utf8'] / 1e6
rows = [
    ('tesqsrch `Tesquin_Search_Essay`, whole text in one call', ours['load_s'], ours['whole_s'],
     ours['whole_cpu_s'], ours['whole']['words']),
    ('tesqsrch `Tesquin_Search_Essay`, one call per line', ours['load_s'], ours['lines_s'], ours['lines_cpu_s'],
     ours['lines']['words']),
    ('@node-rs/jieba %s `cut(text, false)`' % node['version'], node['load_s'], node['cut_s'], node['cut_cpu_s'],
     node['cut_words']),
    ('@node-rs/jieba %s `tag(text, false)`' % node['version'], node['load_s'], node['tag_s'], node['tag_cpu_s'],
     node['tag_words']),
    (posseg['peer'].replace('posseg.cut(HMM=False)', '`posseg.cut(HMM=False)`'), posseg['load_s'],
     posseg['posseg_s'], posseg['posseg_cpu_s'], posseg['words']),
]
cut_cpu = node['cut_cpu_s']
print('text: zh_CN manual pages, %d bytes UTF-8 (%d bytes GB2312 for tesqsrch; converting took %.1f ms, not counted)'
      % (ours['bytes_utf8'], ours['bytes_gb2312'], ours['convert_s'] * 1e3))
print('times: best of the runs of each; CPU time is the fairer figure on a shared machine')
print()
print('| pipeline | load (ms) | whole text, wall (ms) | whole text, CPU (ms) | MB/s (UTF-8, CPU) | words | CPU time vs node-rs cut |')
print('|---|---:|---:|---:|---:|---:|---:|')
for name, load, wall, cpu, words in rows:
    print('| %s | %.1f | %.1f | %.1f | %.2f | %d | %.2fx |' % (name, load * 1e3, wall * 1e3, cpu * 1e3, mb / cpu, words,
                                                         cpu / cut_cpu))
print()
w = ours['whole']
print('names merged (whole text): %d persons (21), %d places (22), %d organisations (23) among %d words'
      % (w['persons'], w['places'], w['organisations'], w['words']))
ratio_cpu = ours['x10_cpu_s'] / ours['whole_cpu_s']
ratio_wall = ours['x10_s'] / ours['whole_s']
print('linearity: the text 10x over in one call (%d words): %.1f ms CPU, %.2fx the CPU time of the text once '
      '(wall: %.2fx)' % (ours['x10']['words'], ours['x10_cpu_s'] * 1e3, ratio_cpu, ratio_wall))
print('target, essay pipeline no slower than node-rs cut (CPU): %s (%.2fx its time)'
      % ('met' if ours['whole_cpu_s'] <= cut_cpu else 'NOT met', ours['whole_cpu_s'] / cut_cpu))
print('target, 10x the text within 11x the time (CPU): %s (%.2fx)' % ('met' if ratio_cpu <= 11 else 'NOT met',
                                                                      ratio_cpu))
PY
