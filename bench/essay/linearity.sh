#!/bin/sh
# Runs the essay benchmarks and prints, for each pair N / 10N, the ratio of
# CPU time per call (about 10 when the essay costs linear time).
# Usage: bench/essay/linearity.sh BUILD_DIR [benchmark filter]
set -eu
build=${1:?usage: linearity.sh BUILD_DIR [filter]}
filter=${2:-.}
for exe in "$build/bench/essay/essay_bench" "$build/bench/essay/essay_bench_real"; do
  [ -x "$exe" ] || continue
  "$exe" --benchmark_filter="$filter" --benchmark_format=json | /usr/bin/python3 -c '
import json, sys
runs = json.load(sys.stdin)["benchmarks"]
groups = {}
for r in runs:
    name, size = r["name"].rsplit("/", 1)
    groups.setdefault(name, []).append((int(size), r["cpu_time"], r["time_unit"]))
for name, sizes in groups.items():
    sizes.sort()
    (n, t1, unit), (m, t2, _) = sizes[0], sizes[-1]
    print(f"{name}: {n} bytes {t1:.2f} {unit}, {m} bytes {t2:.2f} {unit}, ratio {t2 / t1:.1f} for {m // n}x the text")
'
done
