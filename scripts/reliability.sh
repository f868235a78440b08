#!/usr/bin/env bash
# Reliability jobs beyond the test suite, run after scripts/test.sh (which
# builds the normal build and its data in build/):
#
#   1. the concurrency stress test, 8 threads x 100000 mixed calls, and the
#      size limits (1 MB queries, a 10 MB essay, 100000 one-byte words,
#      sizes 0 and 1) with their peak resident memory, on the normal build;
#   2. the same stress test under ThreadSanitizer (build-tsan), with
#      TESQ_TSAN_CALLS calls per thread (default 10000: ThreadSanitizer runs
#      this code some 20 times slower);
#   3. every fuzz target for TESQ_FUZZ_SECONDS seconds (default 60) in a
#      clang build with libFuzzer, AddressSanitizer and UndefinedBehavior-
#      Sanitizer (build-fuzz).
#
# Each build uses the data of the normal build (TESQ_DATA_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."

data="$PWD/build/data"
fuzz_seconds="${TESQ_FUZZ_SECONDS:-60}"
tsan_calls="${TESQ_TSAN_CALLS:-10000}"
clang_c="${TESQ_CLANG:-clang-14}"
clang_cxx="${TESQ_CLANGXX:-clang++-14}"
begin=$(date +%s)
step() { echo; echo "== $* ($(( $(date +%s) - begin )) s)"; }

step "Stress and limits (normal build)"
cmake --build build -j2 --target tesq_stress tesq_limits
TESQ_DATA_DIR="$data" build/tests/stress/tesq_stress 8 100000
TESQ_DATA_DIR="$data" build/tests/stress/tesq_limits

step "Stress under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESQ_WERROR=ON -DTESQ_SANITIZE_THREAD=ON \
  -DTESQ_BUILD_DATA=OFF >/dev/null
cmake --build build-tsan -j2 --target tesq_stress
TESQ_DATA_DIR="$data" TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
  build-tsan/tests/stress/tesq_stress 8 "$tsan_calls"

step "Fuzzing (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER="$clang_c" -DCMAKE_CXX_COMPILER="$clang_cxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESQ_WERROR=ON -DTESQ_SANITIZE=ON -DTESQ_FUZZ=ON -DTESQ_BUILD_DATA=OFF \
  -DTESQ_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
cmake --build build-fuzz -j2 --target fuzz_search fuzz_singleword fuzz_essay fuzz_essay_repeat fuzz_word_sect fuzz_dict_loader \
  fuzz_http_request
TESQ_DATA_DIR="$data" cmake --build build-fuzz --target fuzz

step "Reliability jobs done"
