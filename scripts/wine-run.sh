#!/usr/bin/env bash
# Runs a Windows program of the cross-build under Wine, headless and quiet,
# in a private Wine prefix (the emulator of the MinGW toolchain files, so
# ctest runs the Windows tests through it):
#
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
#
# The prefix is $TESQ_WINEPREFIX_BASE/win32 or /win64 (after the program's
# machine type), default /tmp/tesq-wine-$UID; it is made on first use.
# The exit status is the program's.
set -euo pipefail

program="$1"
shift

# The machine field of the PE header: 014c is 32-bit x86, 8664 x86_64.
pe_offset=$(od -An -t u4 -j 60 -N 4 "$program" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe_offset + 4)) -N 2 "$program" | tr -d ' ')
# TESQ_WINE32_IN_WIN64=1 runs a 32-bit program with the 32-bit loader in a
# 64-bit prefix (its WoW64 half), which the 64-bit loader makes: where 32-bit
# x86 code only runs emulated (qemu-user), making a 32-bit prefix fails, and
# this is far quicker.
wow64=0
case "$machine" in
  014c)
    arch=win32; loader=/usr/lib/wine/wine; server=/usr/lib/wine/wineserver32
    if [ "${TESQ_WINE32_IN_WIN64:-0}" = 1 ]; then
      wow64=1; arch=win64; server=/usr/lib/wine/wineserver64
    fi ;;
  8664) arch=win64; loader=/usr/lib/wine/wine64; server=/usr/lib/wine/wineserver64 ;;
  *) echo "wine-run: $program is not a 32- or 64-bit x86 Windows program" >&2; exit 2 ;;
esac
[ -x "$server" ] || server=/usr/lib/wine/wineserver
prefix_loader=$loader
[ $wow64 = 1 ] && prefix_loader=/usr/lib/wine/wine64
for needed in "$loader" "$prefix_loader"; do
  if [ ! -x "$needed" ]; then
    echo "wine-run: $needed is missing (Debian package $([ "$needed" = /usr/lib/wine/wine ] && echo wine32:i386 || echo wine64))" >&2
    exit 2
  fi
done

export WINEDEBUG=-all WINEARCH=$arch WINESERVER=$server
[ $wow64 = 1 ] || export WINELOADER=$loader
export WINEPREFIX="${TESQ_WINEPREFIX_BASE:-/tmp/tesq-wine-$(id -u)}/$arch"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Made once, also when several tests start at the same time.
  mkdir -p "$WINEPREFIX"
  flock "$WINEPREFIX" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$0" wineboot --init' "$prefix_loader" >/dev/null 2>&1 || true
fi
exec "$loader" "$program" "$@"
