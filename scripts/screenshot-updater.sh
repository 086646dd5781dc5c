#!/usr/bin/env bash
# Takes docs/updater-window.png: runs the shipped i686 Windows build of the updater under wine
# (scripts/i686-wine.sh) on a virtual display, extracting a package of 3000 entries, and keeps a
# picture of its window taken in the middle of the extraction (checked for the window's size and
# the green bar).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
bash scripts/i686-wine.sh --setup
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2 --target updater lumetra_standin
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix} WINEDEBUG=-all
bash scripts/i686-wine.sh --init
xvfb-run -a -s "-screen 0 1024x768x24" python3 tests/updater_e2e.py \
  --updater "$build/bin/Updater.exe" --standin "$build/bin/lumetra_standin.exe" \
  --emulator "$PWD/scripts/i686-wine.sh" --screenshot docs/updater-window.png \
  UpdaterRuns.test_window_during_extraction
