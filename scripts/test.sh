#!/usr/bin/env bash
# Builds the native and the Windows presets and runs every test: natively, and the Windows
# tests under wine (headless). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

stage() { printf '\n== %s ==\n' "$*"; }

stage "native build and tests (default preset)"
cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
ctest --preset default -j"$jobs"

# Wine runs a 32-bit Windows program only where the kernel can execute 32-bit code; some
# kernels (virtual machines without IA-32 emulation) cannot. There the i686 build makes the
# shipped programs only, and the x86_64 Windows build runs the same Win32 code's tests under
# wine64 below.
cmake --preset windows >/dev/null
if wine --version >/dev/null 2>&1; then
  stage "Windows i686 build and tests under wine (windows preset)"
  cmake --build --preset windows -j"$jobs"
  ctest --preset windows -j"$jobs"
else
  stage "Windows i686 programs (windows preset; this kernel cannot run 32-bit code)"
  cmake --build --preset windows -j"$jobs" --target updater zipengine
fi

stage "Windows x86_64 build and tests under wine64 (windows64 preset)"
cmake --preset windows64 >/dev/null
cmake --build --preset windows64 -j"$jobs"
ctest --preset windows64 -j"$jobs"
