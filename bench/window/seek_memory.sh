#!/usr/bin/env bash
# Whole-program memory on long animations: the window opens each file on its
# own, plays it a moment, saves a picture of itself and quits; prints its peak
# resident memory (/usr/bin/time) beside the file's size. A 10-frame animation
# gives the window's own share.
#   bench/window/seek_memory.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."

build="${1:-build}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$build/bin/varek-sample" --animation 10 "$scratch/SHORT.FLI"
"$build/bin/varek-sample" --animation 30000 "$scratch/LONG.FLI"
"$build/bin/varek-sample" --flc 640x480 3000 "$scratch/LONG.FLC"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$scratch" XDG_CONFIG_HOME="$scratch/config" \
       VAREK_SCREENSHOT="$scratch/window.png" VAREK_SCREENSHOT_PLAYING=1

printf '%-10s %10s %10s %12s\n' file "file MiB" "peak MiB" "peak - file"
for name in SHORT.FLI LONG.FLI LONG.FLC; do
  file="$scratch/$name"
  peak_kib="$(/usr/bin/time -f %M "$build/bin/varek" "$file" 2>&1 >/dev/null | tail -1)"
  awk -v name="$name" -v bytes="$(stat -c %s "$file")" -v peak="$peak_kib" 'BEGIN {
    printf "%-10s %10.1f %10.1f %12.1f\n", name, bytes / 1048576, peak / 1024, peak / 1024 - bytes / 1048576
  }'
done
