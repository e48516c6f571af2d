#!/usr/bin/env bash
# Renders the PNG sizes of the icon from varek.svg. Run it after changing the SVG
# and commit the PNGs, so builds and CI need no SVG renderer.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 48 256; do
  rsvg-convert --width "$size" --height "$size" --output "varek-$size.png" varek.svg
done
