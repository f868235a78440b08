#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time on a copy of its seed corpus
# and prints the executions of each; fails when any target finds a fault.
#
#   run_fuzzers.sh BINARY_DIR SECONDS TARGET...
#
# TESQ_DATA_DIR must name a built data directory (the normal build's). The
# copies, new corpus entries and any crash input go to BINARY_DIR/fuzz-work;
# a crash input is kept there as TARGET/crash-* for a regression file.
set -uo pipefail
bin="$1"; seconds="$2"; shift 2
src="$(cd "$(dirname "$0")" && pwd)"
work="$bin/fuzz-work"
total=0
failed=()
summary=()
for target in "$@"; do
  dir="$work/$target"
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  cp "$src/corpus/$target"/* "$dir/corpus/"
  [ -d "$src/regressions/$target" ] && cp "$src/regressions/$target"/* "$dir/corpus/"
  max_len=4096
  # A sound lexicon is at least 27 kB (its root table).
  [ "$target" = fuzz_dict_loader ] && max_len=65536
  log="$dir/fuzz.log"
  (cd "$dir" && ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
     "$bin/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=25 -rss_limit_mb=2560 \
     -max_len="$max_len" -artifact_prefix="$dir/" "$dir/corpus" >"$log" 2>&1)
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  execs=${execs:-0}
  total=$((total + execs))
  if [ $rc -ne 0 ]; then
    failed+=("$target")
    summary+=("$(printf '%-18s %10s executions  FAILED (exit %d), see %s' "$target" "$execs" "$rc" "$log")")
    tail -60 "$log" >&2
  else
    summary+=("$(printf '%-18s %10s executions  no fault' "$target" "$execs")")
  fi
done
echo "Fuzzing, ${seconds} s per target:"
printf '  %s\n' "${summary[@]}"
echo "  total              $total executions"
if [ ${#failed[@]} -gt 0 ]; then
  echo "Faults found by: ${failed[*]}" >&2
  exit 1
fi
