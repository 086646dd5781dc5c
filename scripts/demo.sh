#!/usr/bin/env bash
# The main job: builds the updater and the zipengine command, lays out a sample Lumetra
# installation in a temporary folder (a Lumetra.exe stand-in, Settings.ini with user values,
# PROJECTS/LastRun and a Lumetra.zip package written by `zipengine create`), runs the updater
# with its token, and shows what changed.
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
rm -rf "$app" "$app.before" "$app.after"
