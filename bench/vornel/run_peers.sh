#!/bin/sh
# Runs the libvornel segmentation benchmark and its two peers, python jieba
# cut(HMM=False) and @node-rs/jieba cut(text, false), on the same text in the
# same run, and prints a table of the time each takes for the whole text.
#
#   bench/vornel/run_peers.sh BUILD_DIR [WORK_DIR]
#
# BUILD_DIR is a build configured with -DTESQ_BUILD_BENCH=ON (bench_vornel
# and the built data are used from it). WORK_DIR (default /tmp/vornel_bench)
# receives the rendered corpus and the npm install of the node peer; nothing
# is written into the source tree.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: run_peers.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-/tmp/vornel_bench}
mkdir -p "$work"

if [ ! -s "$work/corpus.txt" ]; then
  /usr/bin/python3 "$root/tools/vornel_corpus.py" render --out "$work/corpus.txt"
fi
/usr/bin/python3 -c "import sys; open(sys.argv[2],'wb').write(open(sys.argv[1],encoding='utf-8').read().encode('gb2312'))" \
  "$work/corpus.txt" "$work/corpus.gb"
if [ ! -d "$work/node/node_modules/@node-rs/jieba" ]; then
  mkdir -p "$work/node"
  cp "$here/node/package.json" "$work/node/package.json"
  (cd "$work/node" && npm install --no-audit --no-fund >/dev/null)
fi

echo "text: $(wc -c < "$work/corpus.txt") bytes UTF-8, $(wc -c < "$work/corpus.gb") bytes GB2312"
/usr/bin/python3 "$here/peer_jieba.py" "$work/corpus.txt" 3 > "$work/jieba.json"
NODE_PATH="$work/node/node_modules" node "$here/peer_node_rs_jieba.js" "$work/corpus.txt" 5 > "$work/node.json"
VORNEL_BENCH_CORPUS="$work/corpus.gb" "$build/bench/vornel/bench_vornel" \
  --benchmark_out="$work/vornel.json" --benchmark_out_format=json >&2

/usr/bin/python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
ours = {b['name'].split('/min_time')[0]: b for b in json.load(open(work + '/vornel.json'))['benchmarks']}
def seconds(b, key='real_time'):
    scale = {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3, 's': 1.0}[b['time_unit']]
    return b[key] * scale
seg1 = seconds(ours['BM_Segment/1'])
seg10 = seconds(ours['BM_Segment/10'])
load = seconds(ours['BM_Load'])
rows = [('libvornel KV_Word_Sect', load, seg1, int(ours['BM_Segment/1']['words']))]
for f in ('jieba.json', 'node.json'):
    p = json.load(open(work + '/' + f))
    rows.append((p['peer'], p['load_s'], p['cut_s'], p['words']))
print()
print('| segmenter | load (ms) | cut whole text (ms) | words | time vs libvornel |')
print('|---|---:|---:|---:|---:|')
for name, l, c, w in rows:
    print('| %s | %.1f | %.1f | %d | %.1fx |' % (name, l * 1e3, c * 1e3, w, c / seg1))
print()
print('libvornel linearity: 10x text in %.2fx the wall time, %.2fx the CPU time' % (
    seg10 / seg1, seconds(ours['BM_Segment/10'], 'cpu_time') / seconds(ours['BM_Segment/1'], 'cpu_time')))
print('libvornel cut CPU time: %.1f ms; load CPU time %.1f ms' % (
    seconds(ours['BM_Segment/1'], 'cpu_time') * 1e3, seconds(ours['BM_Load'], 'cpu_time') * 1e3))
print('libvornel resident memory after load: %.1f MB' % ours['BM_Load']['rss_mb'])
print('libvornel place probe (37 lookups with handles): %.0f ns' % (seconds(ours['BM_Place_Probe']) * 1e9))
PY
