#!/usr/bin/env bash
# update_bench.sh [BUILD_DIR]: the cost of applying an update package with the updater
# (verify, stage, journaled commit with backups, clean-up) against `unzip -o` of the same
# package into a copy of the same installation, which overwrites in place with no safety.
#
# The package: 5,000 files of 20 KiB (about 100 MB; random words, so Deflate has work to
# do) in 50 folders, made with Info-ZIP `zip -6`. The installation: the previous version of
# every one of those files, so the update replaces all of them. Each timed run starts from
# a fresh copy of the installation (hyperfine --prepare). Measured on two folders: tmpfs
# (/dev/shm: no disk, so the file work itself decides) and the working disk (where the
# updater's flush to disk before it records the commit is included). /usr/bin/time -v
# gives the peak resident set size of one run of each. Prints Markdown tables for
# docs/benchmarks.md. Environment: RUNS (default 5), DISK (default: the build folder).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
updater=$build/bin/updater
runs=${RUNS:-5}
[[ -x $updater ]] || { echo "no $updater: build the updater target first" >&2; exit 1; }
for tool in hyperfine zip unzip python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

make_tree() {  # make_tree FOLDER SEED: 5,000 files of 20 KiB of random words
  python3 - "$1" "$2" <<'PY'
import os, random, sys
root, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9)))
         for _ in range(3000)]
for i in range(5000):
    folder = os.path.join(root, 'data', 'part%02d' % (i // 100))
    os.makedirs(folder, exist_ok=True)
    text = ' '.join(rng.choice(words) for _ in range(3500)).encode()[:20480]
    with open(os.path.join(folder, 'file%04d.txt' % i), 'wb') as f:
        f.write(text)
PY
}

bench_on() {  # bench_on FOLDER LABEL
  local work=$1/update_bench.$$ label=$2
  mkdir -p "$work/new" "$work/template/PROJECTS"
  trap 'rm -rf "$work"' RETURN
  make_tree "$work/new" 5
  (cd "$work/new" && zip -q -r -6 "$work/Lumetra.zip" data)
  make_tree "$work/template" 4
  printf '#!/bin/sh\n' >"$work/template/Lumetra.exe"
  chmod +x "$work/template/Lumetra.exe"
  printf '[Display]\r\nZoom=1.25\r\n' >"$work/template/Settings.ini"
  echo "user's last run" >"$work/template/PROJECTS/LastRun"
  cp "$updater" "$work/template/updater"
  cp "$work/Lumetra.zip" "$work/template/"
  local fresh="rm -rf $work/app && cp -a $work/template $work/app"

  echo "### $label ($(du -sm "$work/new" | cut -f1) MB in 5,000 files, package $(du -sm "$work/Lumetra.zip" | cut -f1) MB)"
  echo
  hyperfine --style none --runs "$runs" --export-markdown "$work/times.md" \
    --prepare "$fresh" \
    -n "updater TOVLEX" "$work/app/updater TOVLEX 2>/dev/null" \
    -n "unzip -o" "unzip -q -o $work/app/Lumetra.zip -d $work/app" >/dev/null
  cat "$work/times.md"
  # The update really happened: a file of the new version is in place.
  eval "$fresh"
  "$work/app/updater" TOVLEX 2>/dev/null
  cmp -s "$work/app/data/part49/file4999.txt" "$work/new/data/part49/file4999.txt" ||
    { echo "the update was not applied" >&2; exit 1; }
  echo
  echo "| command | peak RSS |"
  echo "|:---|---:|"
  eval "$fresh"
  local kb
  kb=$(/usr/bin/time -v "$work/app/updater" TOVLEX 2>&1 >/dev/null | awk '/Maximum resident/ {print $6}')
  echo "| updater TOVLEX | $((kb / 1024)) MiB |"
  eval "$fresh"
  kb=$(/usr/bin/time -v unzip -q -o "$work/app/Lumetra.zip" -d "$work/app" 2>&1 >/dev/null |
    awk '/Maximum resident/ {print $6}')
  echo "| unzip -o | $((kb / 1024)) MiB |"
  echo
}

bench_on /dev/shm "tmpfs"
bench_on "${DISK:-$build}" "disk (ext4)"
