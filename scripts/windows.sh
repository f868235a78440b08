#!/usr/bin/env bash
# The Windows build: cross-builds tesqsrch.dll, vornel.dll, karvel.dll and
# tesq.exe for 32-bit Windows with Debian's MinGW-w64 toolchain, checks the
# DLLs' export and import tables (and that no DLL has thread-exit
# destructors), and runs the Windows tests under Wine (the loader test, the
# threads test, the unit tests, the vornel tests, the C header test), on the
# data tesq.exe builds under Wine, which must equal the Linux build's, plus a
# cross-check of the query output of tesq.exe against the Linux tool.
#
# Installs what it needs (Debian packages; the SQLite amalgamation, made from
# Debian's sqlite3 source package and kept in build-deps/). Run after the
# Linux build (scripts/test.sh calls it last).
#
# A machine that cannot run 32-bit programs (some virtual machines) cannot
# run 32-bit Wine natively: there the same tests run on a 64-bit Windows build
# under 64-bit Wine, and the single-threaded 32-bit tests run under 32-bit
# Wine with its x86 code emulated by qemu-user (registered through
# binfmt_misc; this needs root), or, where that cannot be set up, the 32-bit
# build is only checked.
#
# Environment: LINUX_BUILD (default build), the Linux build whose data is
# used; WIN_BUILD (default build-win32).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
LINUX_BUILD="${LINUX_BUILD:-build}"
WIN_BUILD="${WIN_BUILD:-build-win32}"
WIN64_BUILD="${WIN64_BUILD:-build-win64}"
DEPS="$ROOT/build-deps"
start_time=$(date +%s)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
step() { echo; echo "== windows: $*"; }

# --- packages -----------------------------------------------------------------
apt_updated=0
# A mirror being synced answers with lists of the wrong size for a while:
# the update is tried again before the install goes on with what it has.
apt_update() {
  if [ $apt_updated = 0 ]; then
    local try
    for try in 1 2 3 4 5; do
      if $SUDO apt-get update -qq; then break; fi
      echo "apt-get update failed (try $try of 5); trying again in 20 s" >&2
      sleep 20
    done
    apt_updated=1
  fi
}
install_missing() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt_update
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

step "packages"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  apt_updated=0
fi
install_missing g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools \
  tcl xz-utils googletest cmake make
# Wine's 32-bit half comes from the i386 lists, which a mirror being synced
# can leave out of step with the installed 64-bit packages. Then the DLLs are
# still built and their tables checked, and the run says loudly that the
# programs did not run.
NO_WINE=0
if ! install_missing wine wine32:i386; then
  NO_WINE=1
  echo "WARNING: Wine could not be installed from the package mirror (see apt's messages above):" >&2
  echo "WARNING: the Windows DLLs are built and their tables checked, but no Windows program runs." >&2
fi

# Can this machine run 32-bit x86 programs natively? An i386 emulation
# registered by an earlier run is switched off while this is tried.
I386_ENTRY=/proc/sys/fs/binfmt_misc/qemu-i386
native_i386() {
  local was_on=0 ok=0
  if [ -f "$I386_ENTRY" ] && head -1 "$I386_ENTRY" | grep -qx enabled; then
    was_on=1
    echo 0 | $SUDO tee "$I386_ENTRY" >/dev/null
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 && ok=1
  [ $was_on = 0 ] || echo 1 | $SUDO tee "$I386_ENTRY" >/dev/null
  [ $ok = 1 ]
}
# Otherwise 32-bit x86 code can still run emulated: qemu-user registered with
# the kernel (binfmt_misc) as the interpreter of 32-bit x86 programs.
enable_i386_emulation() {
  install_missing qemu-user
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || return 1
  fi
  if [ ! -f "$I386_ENTRY" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:OC' |
      $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null 2>&1 || return 1
  fi
  echo 1 | $SUDO tee "$I386_ENTRY" >/dev/null 2>&1 || return 1
  /usr/lib/wine/wine --version >/dev/null 2>&1
}
EMULATED_WIN32=0
if [ $NO_WINE = 1 ]; then
  RUN_WIN32=0
elif native_i386; then
  RUN_WIN32=1
else
  RUN_WIN32=0
  echo "This machine cannot run 32-bit programs: the whole test set runs on a 64-bit Windows build under 64-bit Wine."
  install_missing g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  if enable_i386_emulation; then
    EMULATED_WIN32=1
    echo "32-bit x86 code runs here emulated by qemu-user: the single-threaded 32-bit tests run that way too."
  else
    echo "No 32-bit x86 emulation could be set up (qemu-user, binfmt_misc): the 32-bit build is only checked."
  fi
fi

# --- SQLite amalgamation ------------------------------------------------------------
# Debian ships no SQLite for MinGW and no amalgamation: sqlite3.c is made from
# the source package with SQLite's own configure and make.
SQLITE_DIR="$DEPS/sqlite"
if [ ! -s "$SQLITE_DIR/sqlite3.c" ] || [ ! -s "$SQLITE_DIR/sqlite3.h" ]; then
  step "SQLite amalgamation from Debian's sqlite3 source package"
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    [ -f /etc/apt/sources.list.d/debian.sources ] || {
      echo "no /etc/apt/sources.list.d/debian.sources to derive a deb-src entry from" >&2
      exit 1
    }
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
    apt_updated=0
  fi
  apt_update
  work="$DEPS/sqlite-src"
  rm -rf "$work"
  mkdir -p "$work"
  (cd "$work" && apt-get source --download-only sqlite3 >/dev/null)
  orig=$(ls "$work"/sqlite3_*.orig.tar.xz)
  mkdir -p "$work/tree"
  tar -xJf "$orig" -C "$work/tree" --strip-components=1
  (cd "$work/tree" && ./configure --disable-tcl >/dev/null && make sqlite3.c >/dev/null)
  mkdir -p "$SQLITE_DIR"
  cp "$work/tree/sqlite3.c" "$work/tree/sqlite3.h" "$SQLITE_DIR/"
  rm -rf "$work"
fi

# --- the Linux data -----------------------------------------------------------------
if [ ! -f "$LINUX_BUILD/data/terms.db" ] || [ ! -f "$LINUX_BUILD/data/segmenter.vlex" ]; then
  step "Linux build of the data"
  cmake -S . -B "$LINUX_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESQ_WERROR=ON
  cmake --build "$LINUX_BUILD" -j2 --target tesq_data
fi
LINUX_TESQ="$ROOT/$LINUX_BUILD/tools/tesq/tesq"

# --- cross-build ---------------------------------------------------------------------
# build_windows DIR TOOLCHAIN RUN: configures and builds. A build whose
# programs run here (RUN=1) builds its data with tesq.exe under Wine, as the
# Linux build does natively; the other gets the Linux build's data.
build_windows() {
  local dir="$1" toolchain="$2" run="$3"
  step "cross-build in $dir ($toolchain)"
  local data=OFF
  [ "$run" = 1 ] && data=ON
  cmake --no-warn-unused-cli -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESQ_WERROR=ON -DTESQ_BUILD_DATA=$data -DTESQ_SQLITE_AMALGAMATION_DIR="$SQLITE_DIR" >/dev/null
  cmake --build "$dir" -j2
  if [ "$run" != 1 ]; then
    mkdir -p "$dir/bin/data"
    cp "$LINUX_BUILD"/data/*.vdic "$LINUX_BUILD"/data/segmenter.vlex "$LINUX_BUILD"/data/terms.db "$dir/bin/data/"
  fi
}

if [ $RUN_WIN32 = 1 ]; then
  RUN_BUILD="$WIN_BUILD"
else
  RUN_BUILD="$WIN64_BUILD"
fi
# A fresh, private Wine prefix in the build directory that runs.
export TESQ_WINEPREFIX_BASE="$ROOT/$RUN_BUILD/wine"
rm -rf "$TESQ_WINEPREFIX_BASE"
EMULATED_PREFIX_BASE="$ROOT/$WIN_BUILD/wine-emulated"
stop_wine() {
  local base arch
  for base in "$TESQ_WINEPREFIX_BASE" "$EMULATED_PREFIX_BASE"; do
    for arch in win32 win64; do
      if [ -d "$base/$arch" ]; then
        WINEPREFIX="$base/$arch" /usr/bin/wineserver -k 2>/dev/null || true
      fi
    done
  done
}
trap stop_wine EXIT

build_windows "$WIN_BUILD" toolchain-mingw32.cmake $RUN_WIN32

step "export and import tables of the 32-bit DLLs"
for dll in tesqsrch vornel karvel; do
  echo "-- $dll.dll"
  i686-w64-mingw32-objdump -p "$WIN_BUILD/bin/$dll.dll" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p;/DLL Name:/p'
done
ctest --test-dir "$WIN_BUILD" --output-on-failure -R '^abi\.pe_tables\.'

if [ $NO_WINE = 1 ]; then
  echo
  echo "WARNING: Wine was not installable: the 32-bit DLLs were built and their tables checked; no Windows test ran."
  echo "windows: done in $(($(date +%s) - start_time)) s"
  exit 0
fi

# --- Wine -----------------------------------------------------------------------------
if [ $RUN_WIN32 = 0 ]; then
  build_windows "$WIN64_BUILD" toolchain-mingw64.cmake 1
  ctest --test-dir "$WIN64_BUILD" --output-on-failure -R '^abi\.pe_tables\.'
fi

step "Windows tests under Wine ($RUN_BUILD)"
ctest --test-dir "$RUN_BUILD" --output-on-failure -j2

step "tesq.exe under Wine against the Linux tool"
# The compiled files the Windows tool made are byte for byte those of the
# Linux tool: the formats do not depend on the platform.
win_data="$RUN_BUILD/bin/data"
for f in segmenter.vlex foreign_dic.vdic name_dic.vdic org_dic.vdic fund_dic.vdic place.vdic; do
  cmp "$win_data/$f" "$LINUX_BUILD/data/$f"
done
check_dir="$ROOT/$RUN_BUILD/wine-check"
rm -rf "$check_dir"
mkdir -p "$check_dir"
"$LINUX_TESQ" terms export --db "$win_data/terms.db" - >"$check_dir/windows.tsv"
"$LINUX_TESQ" terms export --db "$LINUX_BUILD/data/terms.db" - >"$check_dir/linux.tsv"
cmp "$check_dir/windows.tsv" "$check_dir/linux.tsv"
echo "data: the Windows tool's files equal the Linux tool's"
# The same answers from both tools, on the same data.
queries=("计算机科学 9787111123453 1234-5679 11-1234/G 毛泽东 北京大学 国家自然科学基金" "情报学报 李小明 上海 abc")
for q in "${queries[@]}"; do
  # shellcheck disable=SC2086
  scripts/wine-run.sh "$RUN_BUILD/bin/tesq.exe" search --data-dir "$LINUX_BUILD/data" $q | tr -d '\r' >"$check_dir/windows.xml"
  # shellcheck disable=SC2086
  "$LINUX_TESQ" search --data-dir "$LINUX_BUILD/data" $q >"$check_dir/linux.xml"
  cmp "$check_dir/windows.xml" "$check_dir/linux.xml"
done
echo "queries: the Windows tool answers as the Linux tool"
rm -rf "$check_dir"

if [ $EMULATED_WIN32 = 1 ]; then
  step "32-bit programs under Wine, x86 emulated by qemu-user ($WIN_BUILD)"
  # Under the emulation a Windows program that starts threads of its own
  # dies in the Wine client ("stack smashing detected"): the vornel and
  # threads tests ran on the 64-bit build above. The single-threaded ones run
  # here, one at a time (two emulated programs at once can stall each
  # other): the loader test (LoadLibrary, the five exports by their plain
  # names, __stdcall, the main paths on the built data), the C header test,
  # the unit tests, and a query of tesq.exe against the Linux tool. Each
  # program takes about a minute to start.
  rm -rf "$EMULATED_PREFIX_BASE"
  # The 64-bit loader makes the prefix (its 32-bit half is set up emulated,
  # a minute or two), before any test's time is counted.
  mkdir -p "$EMULATED_PREFIX_BASE/win64"
  WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="$EMULATED_PREFIX_BASE/win64" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
    DISPLAY= /usr/lib/wine/wine64 wineboot --init >"$EMULATED_PREFIX_BASE/wineboot.log" 2>&1 || {
    echo "windows: making the Wine prefix for the 32-bit tests failed (see $EMULATED_PREFIX_BASE/wineboot.log)" >&2
    exit 1
  }
  export TESQ_WINE32_IN_WIN64=1
  TESQ_WINEPREFIX_BASE="$EMULATED_PREFIX_BASE" \
    ctest --test-dir "$WIN_BUILD" --output-on-failure -R '^(windows\.loader|abi\.c_header|tesq_unit_tests)$'
  check_dir="$ROOT/$WIN_BUILD/wine-check"
  rm -rf "$check_dir"
  mkdir -p "$check_dir"
  q="${queries[0]}"
  # shellcheck disable=SC2086
  TESQ_WINEPREFIX_BASE="$EMULATED_PREFIX_BASE" scripts/wine-run.sh "$WIN_BUILD/bin/tesq.exe" search \
    --data-dir "$LINUX_BUILD/data" $q | tr -d '\r' >"$check_dir/windows.xml"
  # shellcheck disable=SC2086
  "$LINUX_TESQ" search --data-dir "$LINUX_BUILD/data" $q >"$check_dir/linux.xml"
  cmp "$check_dir/windows.xml" "$check_dir/linux.xml"
  echo "queries: the 32-bit tesq.exe answers as the Linux tool"
  rm -rf "$check_dir"
  unset TESQ_WINE32_IN_WIN64
fi

if [ $RUN_WIN32 = 0 ]; then
  echo
  if [ $EMULATED_WIN32 = 1 ]; then
    echo "NOTE: 32-bit programs run here only emulated: the single-threaded 32-bit tests ran under qemu-user,"
    echo "the whole test set on the 64-bit build of the same sources."
  else
    echo "NOTE: 32-bit programs cannot run on this machine; the 32-bit DLLs were built and their tables"
    echo "checked, the Wine runs used the 64-bit build of the same sources."
  fi
fi
echo
echo "windows: done in $(($(date +%s) - start_time)) s"
