#!/usr/bin/env bash
# Draws the updater's icon with ImageMagick and writes it as one .ico holding the sizes
# 16, 24, 32, 48 and 96 pixels: a dark blue tile with a white upward arrow over a green
# progress bar. Each size is drawn from the same 192-pixel master.
#   make_icon.sh OUTPUT.ico
set -euo pipefail
out=${1:?usage: make_icon.sh OUTPUT.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 192x192 xc:none \
  -fill '#1F3A5F' -draw 'roundrectangle 8,8 183,183 32,32' \
  -fill white -draw 'polygon 96,26 150,86 116,86 116,122 76,122 76,86 42,86' \
  -fill '#0B1A2C' -draw 'roundrectangle 30,138 161,166 8,8' \
  -fill '#00DD00' -draw 'roundrectangle 34,142 120,162 6,6' \
  "$work/master.png"

sizes=(16 24 32 48 96)
for s in "${sizes[@]}"; do
  convert "$work/master.png" -filter Lanczos -resize "${s}x${s}" -depth 8 "PNG32:$work/icon-$s.png"
done
frames=()
for s in "${sizes[@]}"; do frames+=("$work/icon-$s.png"); done
convert "${frames[@]}" "$out"
identify "$out" >&2
