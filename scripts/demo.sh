#!/usr/bin/env bash
# The main job: builds the updater and the zipengine command, lays out a sample Lumetra
# installation in a temporary folder (a Lumetra.exe stand-in, Settings.ini with user values,
# PROJECTS/LastRun and a Lumetra.zip package written by `zipengine create`), runs the updater
# with its token, and shows what changed. Then it offers a damaged package and shows that the
# installation stays as it was, with the update log's account of both runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target updater zipengine
bin=$root/build/default/bin

app=$(mktemp -d /tmp/lumetra-demo.XXXXXX)
ZIPENGINE=$bin/zipengine bash app/demo/make_sample_install.sh "$app" "$bin/updater" 300 >/dev/null
find "$app" -type f -printf '%P %s\n' | sort >"$app.before"

section() { printf '\n== %s ==\n' "$*"; }
section "the sample installation in $app"
ls -l "$app"
section "the package Lumetra.zip, as zipengine lists it (last lines)"
"$bin/zipengine" list "$app/Lumetra.zip" | tail -n 4
section "Settings.ini before the update"
tr -d '\r' <"$app/Settings.ini"
section "PROJECTS/LastRun before the update"
cat "$app/PROJECTS/LastRun"

section "running: $app/updater TOVLEX"
"$app/updater" TOVLEX
echo "updater exit status: $?"
sleep 1 # the application is started detached; give it a moment to record its start

find "$app" -type f -printf '%P %s\n' | sort >"$app.after"
section "files added or replaced by the update"
comm -13 "$app.before" "$app.after" | awk '{print $1}' | sed -n '1,5p;$p' | uniq
echo "($(comm -13 "$app.before" "$app.after" | wc -l) files in all)"
section "Settings.ini after the update (the user's values carried over, Ask=0 added)"
tr -d '\r' <"$app/Settings.ini"
section "PROJECTS/LastRun after the update (the user's copy, not the package's)"
cat "$app/PROJECTS/LastRun"
section "was the application started?"
if [[ -f $app/lumetra-started.txt ]]; then
  echo "yes: Lumetra.exe recorded '$(cat "$app/lumetra-started.txt")'"
else
  echo "no"
fi
section "the update log Updater.log"
tr -d '\r' <"$app/Updater.log"

# The second scenario: a package whose entry near the end is damaged. It is verified before
# anything is touched, so the installation stays exactly as it is and the log says why.
section "second scenario: a damaged package"
python3 - "$app/Lumetra.zip" <<'PY'
import io, struct, sys, zipfile
entries = {"data/new%03d.txt" % i: b"version 3, file %d\n" % i * 50 for i in range(120)}
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in entries.items():
        stored = name == "data/new115.txt"
        archive.writestr(name, data, zipfile.ZIP_STORED if stored else None)
package = bytearray(buffer.getvalue())
with zipfile.ZipFile(io.BytesIO(bytes(package))) as archive:
    offset = archive.getinfo("data/new115.txt").header_offset
name_length, extra_length = struct.unpack("<HH", package[offset + 26:offset + 30])
package[offset + 30 + name_length + extra_length + 7] ^= 0xFF  # entry 116 of 120 is damaged
open(sys.argv[1], "wb").write(package)
print("wrote a package of 120 entries; entry 116 has one byte changed")
PY
find "$app" -type f ! -name Updater.log ! -name Settings.ini ! -name lumetra-started.txt \
  -printf '%P %s %T@\n' | sort >"$app.before"
rm -f "$app/lumetra-started.txt"
"$app/updater" TOVLEX 2>/dev/null
echo "updater exit status: $?"
sleep 1
find "$app" -type f ! -name Updater.log ! -name Settings.ini ! -name lumetra-started.txt \
  -printf '%P %s %T@\n' | sort >"$app.after"
if cmp -s "$app.before" "$app.after"; then
  echo "the installation is unchanged: $(wc -l <"$app.after") files with the same sizes and times"
else
  echo "the installation changed:"
  diff "$app.before" "$app.after" | head
fi
[[ -f $app/lumetra-started.txt ]] && echo "the application was still started"
section "the update log, this run's lines"
tr -d '\r' <"$app/Updater.log" | tail -n 6
rm -rf "$app" "$app.before" "$app.after"
