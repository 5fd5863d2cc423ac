#!/usr/bin/env bash
# Renders the program icon varkonel.svg into the PNG sizes of the hicolor icon theme, written
# beside this script as varkonel-SIZE.png. Run it again after changing the drawing; it needs
# rsvg-convert (librsvg2-bin). The drawing is on a 32-unit grid with crisp edges, so the sizes
# that are multiples of 32 are exact enlargements of the window's 32-pixel icon. At 16 pixels a
# rendering at half scale loses the one-unit bars, so that size is the window's own 16-pixel
# image, drawn for it by make-resources.py.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cp "$here/../icon128-16.png" "$here/varkonel-16.png"
for size in 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "$here/varkonel-$size.png" "$here/varkonel.svg"
done
