#!/usr/bin/env bash
# The text search parser "tesq" of the PostgreSQL extension against the
# default parser and against the library itself, on the same text in the
# same run:
#   - to_tsvector('tesq', body) and to_tsvector('simple', body) over every
#     row of a table that holds the essay corpus (the zh_CN manual pages, one
#     row per non-empty line), in MB/s of the rows' UTF-8 bytes, best of
#     REPEAT statements, wall time and the backend's CPU time;
#   - the build of a GIN index on each of the two expressions;
#   - Tesquin_Search_Essay on the same lines (essay_peers: the whole text in
#     one call, and one call per line as the rows are), the library's own
#     essay throughput, of which the parser is to reach at least half.
#
#   bench/postgresql/pg_bench.sh BUILD_DIR [WORK_DIR] [REPEAT]
#
# BUILD_DIR is a build configured with -DTESQ_BUILD_BENCH=ON (essay_peers and
# the libraries are used from it; the data from TESQ_DATA_DIR, else
# BUILD_DIR/data). The extension is built against BUILD_DIR and installed
# into the system PostgreSQL (as root), so that the parser and essay_peers
# run the same build of the library. WORK_DIR (default /tmp/essay_bench)
# holds the rendered corpus, shared with bench/essay/run_peers.sh. Each
# statement is a transaction of its own, so no run reuses the word kinds the
# parser keeps for the length of a transaction.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: pg_bench.sh BUILD_DIR [WORK_DIR] [REPEAT]}" && pwd)
work=${2:-/tmp/essay_bench}
repeat=${3:-3}
data="${TESQ_DATA_DIR:-$build/data}"
mkdir -p "$work"

if [ ! -x "$build/bench/essay/essay_peers" ]; then
  echo "pg_bench.sh: $build/bench/essay/essay_peers is missing (configure with -DTESQ_BUILD_BENCH=ON and build)" >&2
  exit 1
fi
cmake --build "$build" -j2 --target tesqsrch tesq_frontend tesq_cli tesq_common >/dev/null
make -C "$root/postgresql" clean >/dev/null  # objects of another build tree
make -C "$root/postgresql" TESQ_BUILD="$build" >/dev/null
make -C "$root/postgresql" TESQ_BUILD="$build" install >/dev/null
if [ ! -s "$work/corpus.txt" ]; then
  /usr/bin/python3 "$root/tools/vornel_corpus.py" render --out "$work/corpus.txt"
fi
# The rows: every non-empty line, as the text format of COPY writes it.
grep -v '^$' "$work/corpus.txt" > "$work/lines.txt"
sed -e 's/\\/\\\\/g' -e 's/\t/\\t/g' "$work/lines.txt" > "$work/rows.copy"

TESQ_DATA_DIR="$data" "$build/bench/essay/essay_peers" "$work/lines.txt" "$repeat" > "$work/pg_essay.json"

measure() {
  export PGHOST="$TESQ_TEST_PG_SOCKET" PGPORT="$TESQ_TEST_PG_PORT" PGUSER=tesq PGDATABASE=tesq
  PGPASSWORD=$(printf '%s' "$TESQ_TEST_PG_URI" | sed 's|^postgresql://tesq:\([^@]*\)@.*|\1|')
  export PGPASSWORD PGOPTIONS="-c tesqsrch.data_dir=$data -c client_min_messages=warning"
  local ticks
  ticks=$(getconf CLK_TCK)
  psql -X -q -v ON_ERROR_STOP=1 <<SQL
CREATE EXTENSION tesqsrch;
CREATE TABLE essay(body text);
\\copy essay FROM '$work/rows.copy'
VACUUM ANALYZE essay;
-- The CPU time of this backend so far, in seconds (/proc/self/stat: utime
-- and stime, the 14th and 15th fields, the 12th and 13th after the name).
CREATE FUNCTION bench_cpu() RETURNS float8 LANGUAGE sql AS \$\$
  SELECT (f[12]::float8 + f[13]::float8) / $ticks
  FROM (SELECT string_to_array(split_part(pg_read_file('/proc/self/stat'), ') ', 2), ' ') AS f) AS s
\$\$;
SQL
  psql -X -q -t -A -c "SELECT count(*), sum(octet_length(body)) FROM essay" | tr '|' ' ' > "$work/pg_rows"
  # One statement timed in a session that has started the library already:
  # prints "wall cpu" in seconds.
  timed() {
    psql -X -q -t -A -v ON_ERROR_STOP=1 \
      -c "SELECT to_tsvector('tesq', 'x') IS NULL" \
      -c "SELECT set_config('bench.cpu', bench_cpu()::text, false), set_config('bench.at', clock_timestamp()::text, false)" \
      -c "$1" \
      -c "SELECT extract(epoch FROM clock_timestamp() - current_setting('bench.at')::timestamptz), bench_cpu() - current_setting('bench.cpu')::float8" |
      tail -1 | tr '|' ' '
  }
  : > "$work/pg_times"
  for run in $(seq 1 "$repeat"); do
    for config in simple tesq; do
      echo "vector $config $(timed "SELECT count(to_tsvector('$config', body)) FROM essay")" >> "$work/pg_times"
      echo "index $config $(timed "CREATE INDEX essay_$config ON essay USING gin (to_tsvector('$config', body))")" \
        >> "$work/pg_times"
      psql -X -q -c "DROP INDEX essay_$config"
    done
  done
}
export -f measure
export work data repeat
"$root/scripts/with_postgres.sh" bash -c measure >&2

/usr/bin/python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
ours = json.load(open(work + '/pg_essay.json'))
rows, row_bytes = (int(v) for v in open(work + '/pg_rows').read().split())
best = {}
for line in open(work + '/pg_times'):
    what, config, wall, cpu = line.split()
    key = (what, config)
    w, c = best.get(key, (float('inf'), float('inf')))
    best[key] = (min(w, float(wall)), min(c, float(cpu)))
mb_rows = row_bytes / 1e6
mb_lines = ours['bytes_utf8'] / 1e6
print('text: zh_CN manual pages, %d rows, %d bytes UTF-8 (the library: the same lines, %d bytes GB2312)'
      % (rows, row_bytes, ours['bytes_gb2312']))
print('times: best of the runs of each; the CPU time (of the backend, at the clock tick) is the fairer figure')
print()
print('| what | wall (ms) | CPU (ms) | MB/s (UTF-8, wall) | MB/s (UTF-8, CPU) |')
print('|---|---:|---:|---:|---:|')
out = [
    ("`to_tsvector('simple', body)` over the rows", best[('vector', 'simple')], mb_rows),
    ("`to_tsvector('tesq', body)` over the rows", best[('vector', 'tesq')], mb_rows),
    ('`Tesquin_Search_Essay`, one call per line', (ours['lines_s'], ours['lines_cpu_s']), mb_lines),
    ('`Tesquin_Search_Essay`, the lines in one call', (ours['whole_s'], ours['whole_cpu_s']), mb_lines),
    ("GIN index build on `to_tsvector('simple', body)`", best[('index', 'simple')], mb_rows),
    ("GIN index build on `to_tsvector('tesq', body)`", best[('index', 'tesq')], mb_rows),
]
for name, (wall, cpu), mb in out:
    print('| %s | %.0f | %.0f | %.2f | %.2f |' % (name, wall * 1e3, cpu * 1e3, mb / wall, mb / max(cpu, 1e-9)))
print()
tesq_wall, tesq_cpu = best[('vector', 'tesq')]
ratio_cpu = (mb_rows / tesq_cpu) / (mb_lines / ours['lines_cpu_s'])
ratio_wall = (mb_rows / tesq_wall) / (mb_lines / ours['lines_s'])
print("target, to_tsvector('tesq') at >= 50%% of the library's essay throughput, one call per line (CPU): %s "
      '(%.0f%%; wall %.0f%%)' % ('met' if ratio_cpu >= 0.5 else 'NOT met', ratio_cpu * 100, ratio_wall * 100))
PY
