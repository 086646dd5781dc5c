#!/usr/bin/env bash
# Runs a Windows program of the build under wine, headless and quiet.
#   wine-run.sh [--64] --init        create (or update) the wine prefix once
#   wine-run.sh [--64] PROGRAM ARGS  run PROGRAM with ARGS
# --64 runs a 64-bit (x86_64) program with wine64; without it the 32-bit loader is used
# (LUM_WINE32_LOADER, a command line, replaces it; scripts/i686-wine.sh sets it to run it under
# an emulator).
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-lumetra}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
read -r -a loader <<<"${LUM_WINE32_LOADER:-wine}"
if [[ ${1:-} == --64 ]]; then
  loader=(/usr/lib/wine/wine64)
  [[ -x ${loader[0]} ]] || loader=(wine64)
  shift
fi
if [[ ${1:-} == --init ]]; then
  mkdir -p "$WINEPREFIX"
  "${loader[@]}" wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
  exit 0
fi
exec "${loader[@]}" "$@"
