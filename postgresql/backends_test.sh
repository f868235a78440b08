#!/usr/bin/env bash
# The extension in backends that run side by side, in backends that are
# cancelled or terminated in the middle of a long essay, and in backends
# whose copy of a large term table is loading. Run beside a server
# of scripts/with_postgres.sh, the extension installed, PGOPTIONS naming the
# data directory:
#   scripts/with_postgres.sh postgresql/backends_test.sh
set -euo pipefail

export PGHOST="$TESQ_TEST_PG_SOCKET" PGPORT="$TESQ_TEST_PG_PORT" PGUSER=tesq PGDATABASE=tesq
PGPASSWORD=$(printf '%s' "$TESQ_TEST_PG_URI" | sed 's|^postgresql://tesq:\([^@]*\)@.*|\1|')
export PGPASSWORD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
sql() { psql -X -q -t -A -v ON_ERROR_STOP=1 "$@"; }

sql -c 'CREATE EXTENSION IF NOT EXISTS tesqsrch'

# Eight new backends at once, each starting the library, give what one gives.
check='SELECT tesq_label(w) FROM unnest(ARRAY[$$9787111123453$$, $$1234-5679$$, $$鲁迅$$, $$北京大学$$]) AS w;
       SELECT to_tsvector($$tesq$$, $$鲁迅写了《狂人日记》，ISBN 9787111123453。$$);'
sql -c "$check" > "$work/expected"
grep -q '^ISBN$' "$work/expected" || fail "the reference backend gave no ISBN label"
for i in 1 2 3 4 5 6 7 8; do
  (for round in 1 2 3 4 5; do sql -c "$check"; done > "$work/out.$i" 2>&1) &
done
wait
for i in 1 2 3 4 5 6 7 8; do
  for round in 1 2 3 4 5; do cat "$work/expected"; done | cmp -s - "$work/out.$i" ||
    fail "concurrent backend $i answered differently: $(head -3 "$work/out.$i")"
done

# A 10 MB essay, stopped from another backend: the statement ends within
# 100 ms of the cancel (or the termination) and the server takes new work.
# So does a 10 MB document of the parser whose every word is new, each a
# lookup in the term database.
essay="SELECT count(*) FROM tesq_essay(repeat('鲁迅写了《狂人日记》，北京大学出版。', 195000))"
document="SELECT length(to_tsvector('tesq', string_agg('w' || i, ' '))) FROM generate_series(1, 1200000) AS i"
# $1: pg_cancel_backend or pg_terminate_backend; $2: what runs, $3 what it
# is called, $4 the seconds it runs before the stop.
stop_during_essay() {
  local name="tesq_essay_$1" statement="${2:-$essay}" what="${3:-a 10 MB essay}" after="${4:-0.5}"
  PGAPPNAME="$name" psql -X -q -t -A -c "$statement" > "$work/essay.out" 2>&1 &
  local client=$!
  local pid=""
  for _ in $(seq 1 100); do
    pid=$(sql -c "SELECT pid FROM pg_stat_activity WHERE application_name = '$name' AND state = 'active'")
    [ -n "$pid" ] && break
    sleep 0.05
  done
  [ -n "$pid" ] || { fail "$1: the essay's backend was not seen"; wait "$client" || true; return; }
  sleep "$after"  # well inside the statement, which takes seconds
  # Stopped and timed in one backend, which watches the other leave its
  # statement, so that no client's start-up is counted.
  local took
  took=$(sql -c "DO \$\$
    DECLARE started timestamptz := clock_timestamp();
    BEGIN
      PERFORM $1($pid);
      LOOP
        PERFORM pg_stat_clear_snapshot();
        EXIT WHEN NOT EXISTS (SELECT 1 FROM pg_stat_activity WHERE pid = $pid AND state = 'active');
        EXIT WHEN clock_timestamp() - started > interval '5 s';
        PERFORM pg_sleep(0.001);
      END LOOP;
      RAISE NOTICE 'took %', round(extract(epoch FROM clock_timestamp() - started) * 1000);
    END \$\$" 2>&1 | sed -n 's/.*took \([0-9]*\).*/\1/p')
  wait "$client" || true
  [ -n "$took" ] || { fail "$1: no time was measured"; return; }
  echo "$1 during $what: the statement ended $took ms after the call"
  [ "$took" -le 100 ] || fail "$1: the statement ended $took ms after the call"
  grep -q -E 'canceling statement due to user request|terminating connection|server closed the connection' \
    "$work/essay.out" || fail "$1: the essay ended without the stop: $(cat "$work/essay.out")"
}
stop_during_essay pg_cancel_backend
stop_during_essay pg_terminate_backend
stop_during_essay pg_cancel_backend "$document" "a 10 MB document of new words" 0.5
stop_during_essay pg_terminate_backend "$document" "a 10 MB document of new words" 0.5
[ "$(sql -c "SELECT tesq_label('9787111123453')")" = ISBN ] || fail "a new backend after the stops gave no ISBN"

# A cancelled backend keeps its session and answers again.
out=$(psql -X -q -t -A -c "SET statement_timeout = '200ms'" -c "$essay" -c "SELECT tesq_label('1234-5679')" 2>&1 || true)
printf '%s\n' "$out" | grep -q 'canceling statement due to statement timeout' || fail "no timeout: $out"
printf '%s\n' "$out" | grep -q '^ISSN$' || fail "the session did not answer after its timeout: $out"

# The term copy of a backend, over a term database of 1,000,000 terms whose
# copy takes a while to read: until it is read a backend answers from the
# database. Backends that are cancelled, terminated or newly connected while
# their copies load all answer rightly, and none crashes (a crashed backend
# would restart the server and take every other backend down with it).
terms_dir=$(mktemp -d)
chmod 755 "$terms_dir"  # the server, another user, reads it
trap 'rm -rf "$work" "$terms_dir"' EXIT
/usr/bin/python3 -c 'import sys
sys.stdout.writelines("qqbig%d\t主题词\n" % i for i in range(1000000))' > "$work/big.tsv"
"${build:-build}/tools/tesq/tesq" terms import --db "$terms_dir/terms.db" "$work/big.tsv" > /dev/null
chmod 644 "$terms_dir/terms.db"
export PGOPTIONS="${PGOPTIONS:-} -c tesqsrch.db=$terms_dir/terms.db"
sample="SELECT count(*) FROM generate_series(0, 999999, 9973) AS i WHERE tesq_label('qqbig' || i) = '主题词'"
lookups="SELECT count(tesq_label('qqbig' || (i % 1000000))) FROM generate_series(1, 50000000) AS i"
[ "$(sql -c "$sample")" = 101 ] || fail "a backend whose copy is loading did not find every sampled term"
stop_during_essay pg_cancel_backend "$lookups" "lookups while the copy loads" 0.2
stop_during_essay pg_terminate_backend "$lookups" "lookups while the copy loads" 0.2
out=$(psql -X -q -t -A -c "SET statement_timeout = '300ms'" -c "$lookups" -c "$sample" 2>&1 || true)
printf '%s\n' "$out" | grep -q '^101$' ||
  fail "a backend cancelled while its copy loaded did not answer rightly after: $out"
for i in 1 2 3 4; do (sql -c "$sample" > "$work/copy.$i" 2>&1) & done
wait
for i in 1 2 3 4; do
  [ "$(cat "$work/copy.$i")" = 101 ] || fail "new backend $i whose copy loaded beside others: $(cat "$work/copy.$i")"
done
[ "$(sql -c "SELECT tesq_label('qqbig999999')")" = 主题词 ] || fail "a backend after the copies gave no label"
if grep -E 'terminated by signal|exited with exit code [^01]|crash of another server process' \
  "$TESQ_TEST_PG_SOCKET/server.log" >&2; then
  fail "a backend crashed"
fi

[ "$failures" = 0 ] && echo "backends_test: all passed" || { echo "backends_test: $failures failed" >&2; exit 1; }
