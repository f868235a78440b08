#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installation:
# the three libraries with versioned sonames, the headers, the built data and
# the tool are in place; a C consumer builds and runs through
# find_package(tesqsrch) and through pkg-config; the C example of the README
# prints what the README shows; the installed tool and libraries find the
# installed data with no environment set, also after the prefix is moved.
#
# usage: run_install_test.sh BUILD_DIR [README]
set -euo pipefail
build_dir="$1"
source_dir="$(cd "$(dirname "$0")" && pwd)"
readme="${2:-$source_dir/../../README.md}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unset TESQ_DATA_DIR TESQ_DB
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$work/prefix" > /dev/null
prefix="$work/prefix"

# Layout.
pc="$(find "$prefix" -name tesqsrch.pc -path '*/pkgconfig/*' | head -n 1)"
[ -n "$pc" ] || fail "no tesqsrch.pc installed"
libdir="$(cd "$(dirname "$pc")/.." && pwd)"
for lib in tesqsrch vornel karvel; do
  real="$(ls "$libdir"/lib$lib.so.*.*.* 2> /dev/null | head -n 1)"
  [ -n "$real" ] || fail "lib$lib.so.X.Y.Z missing in $libdir"
  soname="$(readelf -d "$real" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
  [[ "$soname" =~ ^lib$lib\.so\.[0-9]+$ ]] || fail "lib$lib has soname '$soname'"
  [ -e "$libdir/$soname" ] || fail "$soname link missing"
  [ -e "$libdir/lib$lib.so" ] || fail "lib$lib.so link missing"
done
for header in tesqsrch/tesqsrch.h vornel/vornel.h karvel/karvel.h; do
  [ -f "$prefix/include/$header" ] || fail "header $header missing"
done
datadir="$prefix/share/tesqsrch"
[ -f "$datadir/terms.db" ] || fail "no term database in $datadir"
leftovers="$(find "$datadir" \( -name CMakeFiles -o -name Makefile -o -name '*.cmake' -o -name '*.stamp' \
  -o -name '*.tmp' \) | head -n 3)"
[ -z "$leftovers" ] || fail "build files installed with the data: $leftovers"
[ -x "$prefix/bin/tesq" ] || fail "bin/tesq missing"

# A known term of the installed term database, as GB2312 bytes (计算机科学);
# its label 主题词 is found only when the installed data is.
term="$(printf '\xbc\xc6\xcb\xe3\xbb\xfa\xbf\xc6\xd1\xa7')"
term_label="$(printf '\xd6\xf7\xcc\xe2\xb4\xca')"

# CMake package.
cmake -S "$source_dir/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$work/cmake-build" > /dev/null
label=$(cd "$work" && "$work/cmake-build/consumer" 9787111123453)
[ "$label" = "ISBN" ] || fail "find_package consumer printed '$label'"
label=$(cd "$work" && "$work/cmake-build/consumer" "$term")
[ "$label" = "$term_label" ] || fail "find_package consumer did not find the installed term database"

# pkg-config.
export PKG_CONFIG_PATH="$(dirname "$pc")"
pc_libdir=$(pkg-config --variable=libdir tesqsrch)
cc "$source_dir/consumer/consumer.c" -o "$work/pc-consumer" $(pkg-config --cflags --libs tesqsrch) \
  -Wl,-rpath,"$pc_libdir"
label=$(cd "$work" && "$work/pc-consumer" 1234-5679)
[ "$label" = "ISSN" ] || fail "pkg-config consumer printed '$label'"

# The C example of the README, built with pkg-config; its output must be the
# ```text block that follows it.
awk '/^```c$/ {on = 1; next} on && /^```$/ {exit} on {print}' "$readme" > "$work/example.c"
awk '/^```c$/ {seen = 1} seen && /^```text$/ {on = 1; next} on && /^```$/ {exit} on {print}' "$readme" \
  > "$work/example.expected"
[ -s "$work/example.c" ] && [ -s "$work/example.expected" ] || fail "no C example in $readme"
cc -Wall -Wextra -Werror "$work/example.c" -o "$work/example" $(pkg-config --cflags --libs tesqsrch) \
  -Wl,-rpath,"$pc_libdir"
(cd "$work" && ./example) > "$work/example.out" || fail "the README example failed"
diff -u "$work/example.expected" "$work/example.out" || fail "the README example printed something else"

# The installed tool, with no environment, from another directory; then the
# whole prefix moved elsewhere.
check_tool() {
  local tesq="$1"
  [ "$("$tesq" --version)" = "tesq $("$build_dir/tools/tesq/tesq" --version | cut -d' ' -f2)" ] ||
    fail "$tesq --version differs from the build's"
  [ "$(cd "$work" && "$tesq" word --encoding gb2312 "$term")" = "$term_label" ] ||
    fail "$tesq does not find the installed data"
  [ "$(cd "$work" && "$tesq" word 9787111123453)" = "ISBN" ] || fail "$tesq word failed"
}
check_tool "$prefix/bin/tesq"
mv "$prefix" "$work/moved"
check_tool "$work/moved/bin/tesq"
echo "install test: layout, find_package, pkg-config, the README example and the installed tool checked in $work"
