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

stage "Windows i686 build (windows preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"

# Wine runs a 32-bit Windows program only where the kernel can execute 32-bit code; some
# kernels (virtual machines without IA-32 emulation) cannot. The x86_64 Windows build
# exercises the same Win32 code under wine64 and runs wherever wine64 does.
if bash scripts/wine-run.sh build/windows/bin/codec_crc32_test.exe --gtest_list_tests >/dev/null 2>&1; then
  stage "Windows i686 tests under wine"
  ctest --preset windows -j"$jobs"
else
  echo "this kernel cannot run 32-bit programs: the i686 tests are built, not run" >&2
fi

stage "Windows x86_64 build and tests under wine64 (windows64 preset)"
cmake --preset windows64 >/dev/null
cmake --build --preset windows64 -j"$jobs"
ctest --preset windows64 -j"$jobs"
