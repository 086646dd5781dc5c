#!/usr/bin/env bash
# Lays out a sample application folder for a demonstration of the updater:
#   make_sample_install.sh FOLDER UPDATER [ENTRIES]
# FOLDER gets a copy of UPDATER, a Lumetra.exe stand-in (a script that says it was started),
# a Settings.ini with user values, PROJECTS/LastRun, and a Lumetra.zip package of ENTRIES
# (default 200) files that also carries its own PROJECTS/LastRun. Then run:
#   FOLDER/updater TOVLEX
set -euo pipefail
folder=${1:?usage: make_sample_install.sh FOLDER UPDATER [ENTRIES]}
updater=${2:?usage: make_sample_install.sh FOLDER UPDATER [ENTRIES]}
entries=${3:-200}
mkdir -p "$folder/PROJECTS"
cp "$updater" "$folder/"
cat >"$folder/Lumetra.exe" <<'SH'
#!/bin/sh
echo "Lumetra started from $(dirname "$0")"
SH
chmod +x "$folder/Lumetra.exe"
printf '[Display]\r\nZoom=1.25\r\nLockImageZoom=0\r\n[Resize]\r\nMode=1\r\nValue=2.5\r\n' \
  >"$folder/Settings.ini"
printf 'the user'"'"'s last run\n' >"$folder/PROJECTS/LastRun"
python3 - "$folder/Lumetra.zip" "$entries" <<'PY'
import sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(count):
        z.writestr("data/part%02d/file%04d.txt" % (i // 50, i), ("entry %d\n" % i) * 200)
    z.writestr("PROJECTS/LastRun", "the package's LastRun, replaced by the user's\n")
PY
echo "sample installation in $folder ($entries entries); run: $folder/$(basename "$updater") TOVLEX"
