#!/usr/bin/env bash
# The demo on a fresh Debian machine: installs what is missing, builds, and exports
# all the art of the generated sample game folder to out/demo-export.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build

# The build writes the sample game folder; make it again should it be missing.
[ -f build/sample-game/PALETTE.PAL ] || build/bin/varek-sample build/sample-game
echo "Exporting the sample game folder build/sample-game to out/demo-export:"
build/bin/varek-export build/sample-game out/demo-export
