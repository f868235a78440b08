#!/usr/bin/env bash
# Builds the extension against a build tree, installs it into the system
# PostgreSQL (root is needed for its lib and share directories) and runs its
# tests on a throwaway server: the pg_regress suite (make installcheck) and
# the backends test.
#   postgresql/run_tests.sh [BUILD_DIR]     (default build; data from
#                                            TESQ_DATA_DIR or BUILD_DIR/data)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
data="${TESQ_DATA_DIR:-$build/data}"

make -C postgresql TESQ_BUILD="$build" >/dev/null
make -C postgresql TESQ_BUILD="$build" install >/dev/null

# The server runs as another user: it reads the data and the library where
# they are, and writes the library's trace file in its own data directory.
run() {
  export PGHOST="$TESQ_TEST_PG_SOCKET" PGPORT="$TESQ_TEST_PG_PORT" PGUSER=tesq
  PGPASSWORD=$(printf '%s' "$TESQ_TEST_PG_URI" | sed 's|^postgresql://tesq:\([^@]*\)@.*|\1|')
  export PGPASSWORD PGOPTIONS="-c tesqsrch.data_dir=$data"
  local status=0
  make -C postgresql TESQ_BUILD="$build" installcheck || { status=1; cat postgresql/regression.diffs >&2 || true; }
  postgresql/backends_test.sh || status=1
  return $status
}
export -f run
export build data
scripts/with_postgres.sh bash -c run
