#!/usr/bin/env bash
# Configures a host project that builds tesqsrch with add_subdirectory()
# (subproject/CMakeLists.txt holds the checks), in a fresh directory.
#
# usage: run_subproject_test.sh SOURCE_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake -S "$here/subproject" -B "$work/build" -DTESQ_SOURCE_DIR="$1" > "$work/log" 2>&1 ||
  { cat "$work/log" >&2; echo "subproject test: configuring the host failed" >&2; exit 1; }
echo "subproject test: a host configures tesqsrch without its tests, data or build type"
