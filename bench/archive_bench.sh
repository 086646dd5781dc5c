#!/usr/bin/env bash
# archive_bench.sh [BUILD_DIR]: extraction speed and peak memory of `zipengine extract`
# against unzip, 7z, bsdtar and Python's zipfile, on archives made by Info-ZIP `zip -6`:
#   large  the benchmark corpus (bench/make_corpus.sh: five files, 66 MiB)
#   small  a tree of 20,000 small files (100 folders of 200 files, 200 B to 8 KiB each)
# plus `zipengine list` against `unzip -l` on the small archive, and a memory check: one
# entry of 1 MiB against one of 1.5 GiB.
#
# Everything is extracted into a tmpfs folder (/dev/shm), emptied before every run, so disk
# speed does not decide. hyperfine measures time; /usr/bin/time -v gives the peak resident
# set size of one run of each command. Results are printed as Markdown tables, ready for
# docs/benchmarks.md. BUILD_DIR defaults to build/default (needs bin/zipengine).
# `zipengine -T` is the same extraction without restoring times and permissions.
# Environment: RUNS (default 10), SKIP_MEMORY=1 to skip the 1.5 GiB check, BASELINE=path of
# another zipengine build to time beside this one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
zipengine=$(cd "$build" && pwd)/bin/zipengine
runs=${RUNS:-10}
[[ -x $zipengine ]] || { echo "no $zipengine: build the zipengine target first" >&2; exit 1; }
for tool in hyperfine zip unzip 7z bsdtar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=/dev/shm/archive_bench.$$
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

"$root/bench/make_corpus.sh" "$root/bench/corpus" >/dev/null
(cd "$root/bench/corpus" && zip -q -6 "$work/large.zip" text.txt source.cpp binary.bin random.bin runs.bin)

python3 "$root/bench/make_tree.py" "$work/tree"
(cd "$work" && zip -q -6 -r small.zip tree && rm -rf tree)

# name|command with ARCHIVE and OUT as placeholders
tools=(
  "zipengine|'$zipengine' extract -q ARCHIVE -d OUT"
  "zipengine -T|'$zipengine' extract -q -T ARCHIVE -d OUT"
  "unzip|unzip -qo ARCHIVE -d OUT"
  "7z|7z x -y -bso0 -bsp0 -oOUT ARCHIVE"
  "bsdtar|mkdir -p OUT && bsdtar -xf ARCHIVE -C OUT"
  "python zipfile|python3 -m zipfile -e ARCHIVE OUT"
)
# BASELINE=path/to/zipengine adds an earlier build, to see what a change costs.
if [[ -n ${BASELINE:-} ]]; then
  tools+=("zipengine baseline|'$BASELINE' extract -q ARCHIVE -d OUT")
fi

# hyperfine's JSON → one Markdown table: wall time (mean ± σ), user and system CPU time,
# CPU time relative to zipengine, and the peak RSS values given after the file.
table() {
  python3 - "$@" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
rss = sys.argv[2:]
base = results[0]["user"] + results[0]["system"]
print("| Command | Wall (s) | User (s) | System (s) | CPU vs zipengine | Peak RSS (MiB) |")
print("|:---|---:|---:|---:|---:|---:|")
for i, r in enumerate(results):
    cpu = r["user"] + r["system"]
    print("| %s | %.3f ± %.3f | %.3f | %.3f | %.2f× | %s |" % (r["command"], r["mean"], r["stddev"],
          r["user"], r["system"], cpu / base, rss[i] if i < len(rss) else "-"))
PY
}

peak_rss() {  # command → peak RSS in MiB
  /usr/bin/time -v bash -c "$1" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {printf "%.1f", $2/1024}'
}

echo "## Archive extraction"
echo
echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
  "$(free -g | awk '/Mem:/ {print $2}') GiB; $(uname -sr); $(date -u +%Y-%m-%d)."
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)."
for set in large small; do
  archive=$work/$set.zip
  echo
  echo "### $set.zip ($(du -h "$archive" | cut -f1), $(unzip -Z -t "$archive" | cut -d, -f1))"
  echo
  commands=()
  names=()
  for entry in "${tools[@]}"; do
    name=${entry%%|*}
    cmd=${entry#*|}
    cmd=${cmd//ARCHIVE/$archive}
    cmd=${cmd//OUT/$work/out}
    names+=("-n" "$name")
    commands+=("$cmd")
  done
  args=()
  for i in "${!commands[@]}"; do args+=("${names[2 * i]}" "${names[2 * i + 1]}" "${commands[$i]}"); done
  hyperfine --style none --warmup 1 --runs "$runs" --prepare "rm -rf $work/out" \
    --export-json "$work/$set.json" "${args[@]}" >/dev/null
  rss=()
  for i in "${!commands[@]}"; do
    rm -rf "$work/out"
    rss+=("$(peak_rss "${commands[$i]}")")
  done
  table "$work/$set.json" "${rss[@]}"
  # The extracted files must be right: compare zipengine's output with unzip's.
  rm -rf "$work/out" "$work/ref"
  bash -c "${commands[0]}"
  unzip -qo "$archive" -d "$work/ref"
  diff -r "$work/out" "$work/ref" >/dev/null || { echo "zipengine's output differs" >&2; exit 1; }
  rm -rf "$work/out" "$work/ref"
done

echo
echo "### Listing small.zip (20,000 entries)"
echo
hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/list.json" \
  -n "zipengine list" "'$zipengine' list $work/small.zip >/dev/null" \
  -n "unzip -l" "unzip -l $work/small.zip >/dev/null" >/dev/null
table "$work/list.json" \
  "$(peak_rss "'$zipengine' list $work/small.zip")" "$(peak_rss "unzip -l $work/small.zip")"

if [[ ${SKIP_MEMORY:-0} != 1 ]]; then
  echo
  echo "### Memory against entry size"
  echo
  head -c $((1 << 20)) "$root/bench/corpus/text.txt" >"$work/one_mib.bin"
  (cd "$work" && zip -q -6 one_mib.zip one_mib.bin && rm one_mib.bin)
  # 1.5 GiB: the corpus repeated, so the entry is mixed text, binary and random data.
  # head stops reading at 1.5 GiB and the writer then dies of SIGPIPE: expected, not a failure.
  { for _ in $(seq 23); do cat "$root"/bench/corpus/*; done || true; } |
    head -c $((1536 << 20)) >"$work/big.bin"
  (cd "$work" && zip -q -1 big.zip big.bin && rm big.bin)
  echo "| Entry | Stored | zipengine peak RSS (MiB) | unzip peak RSS (MiB) |"
  echo "|:---|---:|---:|---:|"
  for a in one_mib big; do
    rm -rf "$work/out"
    z=$(peak_rss "'$zipengine' extract -q $work/$a.zip -d $work/out")
    rm -rf "$work/out"
    u=$(peak_rss "unzip -qo $work/$a.zip -d $work/out")
    rm -rf "$work/out"
    echo "| $a | $(du -h "$work/$a.zip" | cut -f1) | $z | $u |"
  done
fi
