#!/usr/bin/env bash
# Lays out a sample application folder for a demonstration of the updater:
#   make_sample_install.sh FOLDER UPDATER [ENTRIES]
# FOLDER gets a copy of UPDATER, a Lumetra.exe stand-in (a script that says it was started),
# a Settings.ini with user values, PROJECTS/LastRun, and a Lumetra.zip package of ENTRIES
# (default 200) files that also carries its own PROJECTS/LastRun, written by $ZIPENGINE
# (`zipengine create`) when that is set, else by Python's zipfile. Then run:
#   FOLDER/updater TOVLEX
set -euo pipefail
folder=${1:?usage: make_sample_install.sh FOLDER UPDATER [ENTRIES]}
updater=${2:?usage: make_sample_install.sh FOLDER UPDATER [ENTRIES]}
entries=${3:-200}
mkdir -p "$folder/PROJECTS"
cp "$updater" "$folder/"
cat >"$folder/Lumetra.exe" <<'SH'
#!/bin/sh
date '+started %H:%M:%S' >"$(dirname "$0")/lumetra-started.txt"
SH
chmod +x "$folder/Lumetra.exe"
printf '[Display]\r\nZoom=1.25\r\nLockImageZoom=0\r\n[Resize]\r\nMode=1\r\nValue=2.5\r\n' \
  >"$folder/Settings.ini"
printf 'the user'"'"'s last run\n' >"$folder/PROJECTS/LastRun"
# The package's files: a few hundred small files and its own PROJECTS/LastRun.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
for ((i = 0; i < entries; i++)); do
  part=$(printf 'data/part%02d' $((i / 50)))
  mkdir -p "$tree/$part"
  for ((k = 0; k < 200; k++)); do echo "entry $i"; done >"$tree/$part/$(printf 'file%04d.txt' "$i")"
done
mkdir -p "$tree/PROJECTS"
echo "the package's LastRun, replaced by the user's" >"$tree/PROJECTS/LastRun"
if [[ -n ${ZIPENGINE:-} ]]; then
  # Written by our own archive engine.
  (cd "$tree" && "$ZIPENGINE" create -q -r -L 6 "$folder/Lumetra.zip" data PROJECTS)
else
  (cd "$tree" && python3 -m zipfile -c "$folder/Lumetra.zip" data PROJECTS)
fi
echo "sample installation in $folder ($entries entries); run: $folder/$(basename "$updater") TOVLEX"
