#!/usr/bin/env bash
# What varek-export costs on hostile game files: sparse files of 4 GB and 2 TB as a
# wall, a still picture and the palette, a still picture whose header asks for
# 537 MB, and a re-export stopped by SIGTERM. Prints, for each, the exit status,
# wall time and peak memory (/usr/bin/time -v), and what the run left behind.
# A measurement, not a test.
# Usage: bench/export/hostile_files.sh [VAREK_EXPORT]   (default build/bin/varek-export)
# Environment: BENCH_DIR (where the files go; default the system's temporary folder).
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
export_bin="${1:-$root/build/bin/varek-export}"
sample_bin="$(dirname "$export_bin")/varek-sample"
[ -x "$export_bin" ] || { echo "missing $export_bin: build the project first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/varek-hostile.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# game folder with the sample palette and empty category folders
fresh_game() {
  rm -rf "$work/game" "$work/out"
  mkdir -p "$work/game/CELS3" "$work/game/STILLCEL" "$work/game/FLI"
  head -c 768 /dev/zero >"$work/game/PALETTE.PAL"
}

measure() {
  local label="$1"
  shift
  /usr/bin/time -v -o "$work/time" "$export_bin" -q "$@" >"$work/stdout" 2>"$work/stderr"
  local status=$?
  local elapsed peak
  elapsed="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")"
  peak="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")"
  printf '%-34s exit %-3s %9s s  %8s KiB  %s | %s\n' "$label" "$status" "$elapsed" "$peak" \
    "$(tr '\n' ' ' <"$work/stdout")" "$(head -c 160 "$work/stderr" | tr '\n' ' ')"
}

# still picture header: width, height, pixel count; then the palette block
still_header() {
  python3 - "$1" "$2" "$3" <<'EOF'
import struct, sys
w, h, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
header = bytearray(32)
struct.pack_into('<HH', header, 2, w, h)
struct.pack_into('<i', header, 12, min(w * h, 2**31 - 1))
open(path, 'wb').write(bytes(header) + bytes(768))
EOF
}

for size in 4G 2T; do
  fresh_game
  truncate -s "$size" "$work/game/CELS3/HUGE.CEL" || continue
  measure "wall of $size" --category walls "$work/game" "$work/out"
  fresh_game
  still_header 320 200 "$work/game/STILLCEL/HUGE.CEL"
  truncate -s "$size" "$work/game/STILLCEL/HUGE.CEL"
  measure "320x200 still of $size" --category stills "$work/game" "$work/out"
  fresh_game
  truncate -s "$size" "$work/game/PALETTE.PAL"
  measure "PALETTE.PAL of $size" --category walls "$work/game" "$work/out"
done

fresh_game
still_header 23170 23170 "$work/game/STILLCEL/BIG.CEL"
truncate -s $((800 + 23170 * 23170)) "$work/game/STILLCEL/BIG.CEL"
measure "23170x23170 still (537 MB)" --category stills "$work/game" "$work/out"

# A re-export over existing output, stopped by SIGTERM a moment after it starts.
if [ -x "$sample_bin" ]; then
  fresh_game
  "$sample_bin" "$work/sample" >/dev/null
  cp "$work/sample/PALETTE.PAL" "$work/game/"
  for i in $(seq 1 3000); do cp "$work/sample/CELS3/BRICK01.CEL" "$work/game/CELS3/W$i.CEL"; done
  "$export_bin" -q --format png "$work/game" "$work/out" >/dev/null 2>&1
  left=0
  statuses=""
  for run in $(seq 1 20); do
    "$export_bin" -q --format png "$work/game" "$work/out" >/dev/null 2>&1 &
    pid=$!
    sleep 0.1
    kill -TERM "$pid"
    wait "$pid"
    statuses="$statuses $?"
  done
  left="$(find "$work/out" -name '.*.tmp' | wc -l)"
  echo "SIGTERM during 20 re-exports: exit statuses$statuses; temporary files left: $left"
fi
