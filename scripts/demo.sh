#!/usr/bin/env bash
# The demo on a fresh Debian machine: installs what is missing, builds, opens the
# window on the generated sample game folder (under Xvfb when there is no display)
# and saves a picture of it to out/screenshot.png, then exports all the art of the
# folder to out/demo-export and prints the summary.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh xvfb xauth
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build

# The build writes the sample game folder; make it again should it be missing.
[ -f build/sample-game/PALETTE.PAL ] || build/bin/varek-sample build/sample-game
# The window a moment into playing the first animation, the palette open and the
# mouse on the picture.
VAREK_SCREENSHOT_PLAYING=1 VAREK_SCREENSHOT_TOOLS=1 scripts/demo-window.sh build out/screenshot.png
echo "Exporting the sample game folder build/sample-game to out/demo-export:"
build/bin/varek-export build/sample-game out/demo-export
