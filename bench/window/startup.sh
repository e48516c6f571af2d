#!/usr/bin/env bash
# Whole-program start-up: launches the built window several times on the sample
# game folder and prints the time from launch to the first wall painted, as the
# program itself traces it. Runs under Xvfb when there is no display.
#   bench/window/startup.sh [build folder] [runs]
set -euo pipefail
cd "$(dirname "$0")/../.."

build="${1:-build}"
runs="${2:-20}"
program="$build/bin/varek"
sample="$build/sample-game"

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$build" "$runs"
fi
if [ ! -f "$sample/PALETTE.PAL" ]; then
  "$build/bin/varek-sample" "$sample"
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$scratch" VAREK_SCREENSHOT="$scratch/window.png"

times=()
for _ in $(seq "$runs"); do
  line="$(VAREK_TRACE_STARTUP="$(date +%s%N)" "$program" "$sample" 2>&1 | grep 'first picture painted')"
  times+=("$(sed -E 's/.* ([0-9.]+) ms .*/\1/' <<<"$line")")
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "start to first wall painted over $runs runs: min ${sorted[0]} ms," \
     "median ${sorted[$((runs / 2))]} ms, max ${sorted[$((runs - 1))]} ms"
