#!/usr/bin/env bash
# zip64_bench.sh [BUILD_DIR]: time and peak memory of creating and testing archives that need
# Zip64, `zipengine` against Info-ZIP zip/unzip and 7-Zip (one thread), on:
#   big    one file of 5 GiB of zeros (a sparse file, so reading it costs no disk), level 1
#   many   a tree of 100,000 files of a few bytes (100 folders of 1,000), level 6
# Each tool creates its own archive (zipengine create -L N, zip -N -q -r, 7z a -tzip -mxN
# -mmt1); each archive is then tested by its own tool (zipengine test -q, unzip -tq, 7z t)
# and by zipengine. Every command runs once under /usr/bin/time -v (elapsed time, peak RSS);
# results are printed as a Markdown table for docs/benchmarks.md. Archives are deleted after
# they were tested. Needs about 6 GiB free where TMPDIR (default /tmp) lies, for zip's and
# 7z's stored-fallback temporary files; the free space is checked first.
# Environment: SETS (default "big many").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
zipengine=$(cd "$build" && pwd)/bin/zipengine
sets=${SETS:-big many}
[[ -x $zipengine ]] || { echo "no $zipengine: build the zipengine target first" >&2; exit 1; }
for tool in zip unzip 7z python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=${TMPDIR:-/tmp}/zip64_bench.$$
mkdir -p "$work/src"
trap 'rm -rf "$work"' EXIT
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if ((free_kib < 6 * 1024 * 1024)); then
  echo "need 6 GiB free in $work, have $((free_kib / 1024)) MiB" >&2
  exit 1
fi

# Runs "$@" under /usr/bin/time -v; prints "| label | seconds | MiB |".
measure() {
  local label=$1
  shift
  local log=$work/time.log
  if ! /usr/bin/time -v "$@" >/dev/null 2>"$log"; then
    echo "failed: $*" >&2
    tail -5 "$log" >&2
    exit 1
  fi
  local elapsed rss
  elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$log")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log")
  python3 - "$label" "$elapsed" "$rss" <<'EOF'
import sys
label, elapsed, rss = sys.argv[1], sys.argv[2], int(sys.argv[3])
seconds = 0.0
for part in elapsed.split(':'):
    seconds = seconds * 60 + float(part)
print('| %s | %.1f s | %.1f MiB |' % (label, seconds, rss / 1024))
EOF
}

run_set() {
  local set=$1 level source
  case $set in
    big)
      level=1
      mkdir -p "$work/src/big"
      truncate -s 5G "$work/src/big/zeros.bin"
      source=big
      ;;
    many)
      level=6
      python3 - "$work/src/many" <<'EOF'
import os, sys
root = sys.argv[1]
for d in range(100):
    folder = os.path.join(root, 'd%03d' % d)
    os.makedirs(folder)
    for f in range(1000):
        with open(os.path.join(folder, 'f%04d.txt' % f), 'w') as out:
            out.write('file %d of folder %d\n' % (f, d))
EOF
      source=many
      ;;
  esac
  cd "$work/src"
  echo
  echo "#### $set"
  echo
  echo "| command | time | peak RSS |"
  echo "|:---|---:|---:|"
  measure "zipengine create -L $level" "$zipengine" create -q -r -L "$level" "$work/ze.zip" "$source"
  measure "zip -$level" zip -q -r "-$level" "$work/zip.zip" "$source"
  measure "7z a -mx$level -mmt1" 7z a -tzip "-mx$level" -mmt1 "$work/7z.zip" "$source"
  echo "| archive sizes: zipengine $(stat -c %s "$work/ze.zip"), zip $(stat -c %s "$work/zip.zip"), 7z $(stat -c %s "$work/7z.zip") bytes | | |"
  measure "zipengine test (own archive)" "$zipengine" test -q "$work/ze.zip"
  measure "unzip -tq (own archive)" unzip -tq "$work/zip.zip"
  measure "7z t (own archive)" 7z t "$work/7z.zip"
  measure "unzip -tq (zipengine's archive)" unzip -tq "$work/ze.zip"
  measure "7z t (zipengine's archive)" 7z t "$work/ze.zip"
  measure "zipengine test (zip's archive)" "$zipengine" test -q "$work/zip.zip"
  measure "zipengine test (7z's archive)" "$zipengine" test -q "$work/7z.zip"
  rm -rf "$work/ze.zip" "$work/zip.zip" "$work/7z.zip" "$work/src/$source"
}

echo "zip64_bench: $(nproc) CPUs, $(uname -r)"
for set in $sets; do run_set "$set"; done
