#!/usr/bin/env bash
# archive_create_bench.sh [BUILD_DIR]: archive creation speed, archive size and peak memory of
# `zipengine create` against Info-ZIP zip, 7-Zip (one thread) and Python's zipfile, at the
# level numbers 1, 6 and 9 (7-Zip: -mx1, -mx5, -mx9), on:
#   corpus  the benchmark corpus (bench/make_corpus.sh: five files, 66 MiB)
#   tree    a tree of 20,000 small files (100 folders of 200 files, 200 B to 8 KiB each)
#   small   a tree of 5,000 small files (50 folders of 100 files, 1 KiB to 10 KiB each), where
#           the cost per file (system calls, lookups, encoder set-up) decides
# plus a memory check: `zipengine create -L 1` of one file of 1 MiB against one of 1.5 GiB.
#
# Sources are read from the page cache (each is read once before the runs) and archives are
# written to a tmpfs folder (/dev/shm), deleted before every run, so disk speed does not
# decide. hyperfine measures time; one more run of each command under /usr/bin/time -v gives
# the peak resident set size and the archive's size. Results are printed as Markdown tables,
# ready for docs/benchmarks.md. BUILD_DIR defaults to build/default (needs bin/zipengine).
# zipengine runs twice: with its default dynamic-Huffman encoder and with --fixed-huffman.
# Environment: RUNS (default 5; level 9 on the corpus always runs RUNS_SLOW, default 2),
# SKIP_MEMORY=1 skips the 1.5 GiB check, LEVELS (default "1 6 9"), SETS (default "corpus tree
# small"; a blank runs only the memory check), TOOLS (a regular expression over the row names,
# default all), BASELINE (another zipengine binary, measured as the row "zipengine before",
# to compare two builds in the same runs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
zipengine=$(cd "$build" && pwd)/bin/zipengine
runs=${RUNS:-5}
runs_slow=${RUNS_SLOW:-2}
levels=${LEVELS:-1 6 9}
sets=${SETS:-corpus tree small}
[[ -x $zipengine ]] || { echo "no $zipengine: build the zipengine target first" >&2; exit 1; }
for tool in hyperfine zip 7z python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=/dev/shm/archive_create_bench.$$
big=${TMPDIR:-/tmp}/archive_create_bench.$$
mkdir -p "$work/src" "$big"
trap 'rm -rf "$work" "$big"' EXIT

"$root/bench/make_corpus.sh" "$root/bench/corpus" >/dev/null
cp -r "$root/bench/corpus" "$work/src/corpus"
python3 "$root/bench/make_tree.py" "$work/src/tree"
python3 "$root/bench/make_tree.py" "$work/src/small" 50 100 1024 10240

cat >"$work/pyzip.py" <<'PY'
import os, sys, zipfile
out, level, src = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED, compresslevel=level) as z:
    for folder, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            z.write(os.path.join(folder, name))
PY

# name|command; SRC, OUT, L (level) and X (7-Zip's -mx for the level) are placeholders.
tools=(
  "zipengine|'$zipengine' create -q OUT -L L -r SRC"
  "zipengine fixed|'$zipengine' create -q --fixed-huffman OUT -L L -r SRC"
  ${BASELINE:+"zipengine before|'$(realpath "$BASELINE")' create -q OUT -L L -r SRC"}
  "zip|zip -q -L -r OUT SRC"
  "7z|7z a -tzip -mxX -mmt1 -bso0 -bsp0 OUT SRC"
  "python zipfile|python3 '$work/pyzip.py' OUT L SRC"
)

fill() {  # template level → command (run inside $work/src)
  local c=${1//SRC/$set} x
  case $2 in 1) x=1 ;; 6) x=5 ;; *) x=9 ;; esac
  c=${c//OUT/$work/out.zip}
  c=${c//-L L/-L $2}
  c=${c/zip -q -L -r/zip -q -$2 -r}
  c=${c// L / $2 }
  c=${c//X/$x}
  echo "$c"
}

peak_rss_and_size() {  # command → "RSS MiB|size bytes"
  rm -f "$work/out.zip"
  local rss
  rss=$(cd "$work/src" && /usr/bin/time -v bash -c "$1" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident/ {printf "%.1f", $2/1024}')
  echo "$rss|$(stat -c %s "$work/out.zip")"
}

echo "## Archive creation"
echo
echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $(date -u +%Y-%m-%d)."
for set in $sets; do
  cat "$work/src/$set"/* "$work/src/$set"/*/* >/dev/null 2>&1 || true  # into the page cache
  for level in $levels; do
    n=$runs
    [[ $set == corpus && $level == 9 ]] && n=$runs_slow
    args=()
    names=()
    commands=()
    for t in "${tools[@]}"; do
      [[ ${t%%|*} =~ ^(${TOOLS:-.*})$ ]] || continue
      names+=("${t%%|*}")
      commands+=("$(fill "${t#*|}" "$level")")
      args+=(-n "${t%%|*}" "${commands[-1]}")
    done
    (cd "$work/src" && hyperfine -N --runs "$n" --prepare "rm -f $work/out.zip" \
      --export-json "$work/h.json" "${args[@]}" >/dev/null 2>&1) ||
      (cd "$work/src" && hyperfine --runs "$n" --prepare "rm -f $work/out.zip" \
        --export-json "$work/h.json" "${args[@]}" >/dev/null)
    extra=()
    for c in "${commands[@]}"; do extra+=("$(peak_rss_and_size "$c")"); done
    echo
    echo "### $set, level $level ($n runs each)"
    echo
    python3 - "$work/h.json" "$(du -sb "$work/src/$set" | cut -f1)" "${extra[@]}" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
source = int(sys.argv[2])
extra = [e.split("|") for e in sys.argv[3:]]
base_t, base_s = results[0]["mean"], int(extra[0][1])
base_c = results[0]["user"] + results[0]["system"]
print("| Command | Wall (s) | Wall vs zipengine | CPU (s) | CPU vs zipengine | Archive (MiB) | % of source | Size vs zipengine | Peak RSS (MiB) |")
print("|:---|---:|---:|---:|---:|---:|---:|---:|---:|")
for r, (rss, size) in zip(results, extra):
    size = int(size)
    cpu = r["user"] + r["system"]
    print("| %s | %.3f ± %.3f | %.2f× | %.3f | %.2f× | %.2f | %.1f %% | %.3f× | %s |" % (
        r["command"], r["mean"], r["stddev"] or 0.0, r["mean"] / base_t, cpu, cpu / base_c,
        size / 2**20, 100.0 * size / source, size / base_s, rss))
PY
  done
done

if [[ -z ${SKIP_MEMORY:-} ]]; then
  head -c $((1 << 20)) "$work/src/corpus/text.txt" >"$big/small.bin"
  # head closes the pipe once it has 1.5 GiB; the loop's broken pipe is expected.
  { for _ in $(seq 24); do cat "$work/src/corpus"/*; done || true; } |
    head -c $((1536 << 20)) >"$big/large.bin" || true
  small=$(/usr/bin/time -v "$zipengine" create -q "$big/small.zip" -L 1 "$big/small.bin" 2>&1 |
    awk -F': ' '/Maximum resident/ {printf "%.1f", $2/1024}')
  large=$(/usr/bin/time -v "$zipengine" create -q "$big/large.zip" -L 1 "$big/large.bin" 2>&1 |
    awk -F': ' '/Maximum resident|Elapsed/ {print $2}' | paste -sd' ')
  "$zipengine" test -q "$big/large.zip" && ok=yes || ok=no
  echo
  echo "### Memory: one entry of 1 MiB and one of 1.5 GiB, level 1"
  echo
  echo "| Source | Peak RSS (MiB) | Wall | Archive tests OK |"
  echo "|:---|---:|---:|:---|"
  echo "| 1 MiB | $small | | |"
  echo "| 1.5 GiB | $(awk '{printf "%.1f", $2/1024}' <<<"$large") | $(awk '{print $1}' <<<"$large") | $ok |"
fi
