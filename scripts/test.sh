#!/usr/bin/env bash
# Builds the native and the Windows presets and runs every test: natively, and the Windows
# tests under wine (headless): the shipped i686 build always (through scripts/i686-wine.sh, which
# runs wine's 32-bit loader under qemu where the kernel cannot execute 32-bit code), and the
# x86_64 twin build when LUM_TEST_WINDOWS64=1. Prints each stage's time; exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

stage_name=""
stage_start=0
stage_end() {
  [[ -n $stage_name ]] && echo "test.sh: stage '$stage_name' took $(($(date +%s) - stage_start)) s"
  stage_name=""
}
stage() {
  stage_end
  stage_name=$*
  stage_start=$(date +%s)
  printf '\n== %s ==\n' "$*"
}

stage "packages and i686 wine"
bash scripts/setup.sh
bash scripts/i686-wine.sh --setup

stage "native build (default preset)"
cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
stage "native tests"
ctest --preset default -j"$jobs"

stage "Windows i686 build (windows preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
stage "Windows i686 tests under wine ($(bash scripts/i686-wine.sh --mode))"
ctest --preset windows -j"$jobs"

if [[ ${LUM_TEST_WINDOWS64:-0} == 1 ]]; then
  stage "Windows x86_64 build (windows64 preset)"
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64 -j"$jobs"
  stage "Windows x86_64 tests under wine64"
  ctest --preset windows64 -j"$jobs"
fi
stage_end
