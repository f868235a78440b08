#!/usr/bin/env bash
# Runs the whole test suite: the normal build (warnings as errors) and a
# second build under AddressSanitizer and UndefinedBehaviorSanitizer, against
# the data the normal build made. Run scripts/setup.sh first on a new machine.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESQ_WERROR=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
# The PostgreSQL extension over the normal build, on a server of its own
# (installing it into the system PostgreSQL needs root).
if [ "$(id -u)" = 0 ]; then postgresql/run_tests.sh build; else echo "PostgreSQL extension tests skipped: not root" >&2; fi

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESQ_WERROR=ON -DTESQ_SANITIZE=ON -DTESQ_BUILD_DATA=OFF
cmake --build build-asan -j2
TESQ_DATA_DIR="$PWD/build/data" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" ctest --test-dir build-asan --output-on-failure -j2
bash scripts/reliability.sh

# The Windows cross-build: export/import tables checked, tests run under Wine.
scripts/windows.sh
