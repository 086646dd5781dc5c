#!/usr/bin/env bash
# Installs every package the build, the tests and the benchmarks need on Debian 12 (as root).
# Safe to run again: it installs only what is missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format libgtest-dev googletest
      zlib1g-dev libdeflate-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386
      xvfb imagemagick zip unzip p7zip-full libarchive-tools python3 hyperfine time xxd file)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  if [[ " ${missing[*]} " == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
