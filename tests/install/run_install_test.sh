#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a C
# consumer against it twice: through find_package(tesqsrch) and through
# pkg-config. The installed library must find its installed data with no
# environment set.
set -euo pipefail
build_dir="$1"
source_dir="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unset TESQ_DATA_DIR TESQ_DB

cmake --install "$build_dir" --prefix "$work/prefix" > /dev/null

# CMake package.
cmake -S "$source_dir/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/cmake-build" > /dev/null
label=$(cd "$work" && "$work/cmake-build/consumer" 9787111123453)
[ "$label" = "ISBN" ] || { echo "find_package consumer printed '$label'"; exit 1; }

# pkg-config.
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
libdir=$(pkg-config --variable=libdir tesqsrch)
cc "$source_dir/consumer/consumer.c" -o "$work/pc-consumer" $(pkg-config --cflags --libs tesqsrch) \
  -Wl,-rpath,"$libdir"
label=$(cd "$work" && "$work/pc-consumer" 1234-5679)
[ "$label" = "ISSN" ] || { echo "pkg-config consumer printed '$label'"; exit 1; }

# The installed tool.
"$work/prefix/bin/tesq" --version > /dev/null
echo "install test: find_package and pkg-config consumers ran against $work/prefix"
