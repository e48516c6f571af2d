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
  head -c 4096 /dev/zero >"$work/game/CELS3/W.CEL"
  measure "PALETTE.PAL of $size" --category walls "$work/game" "$work/out"
done

fresh_game
still_header 23170 23170 "$work/game/STILLCEL/BIG.CEL"
truncate -s $((800 + 23170 * 23170)) "$work/game/STILLCEL/BIG.CEL"
measure "23170x23170 still (537 MB)" --category stills "$work/game" "$work/out"

# A re-export over existing output, stopped by SIGTERM at moments spread over its run.
if [ -x "$sample_bin" ]; then
  fresh_game
  "$sample_bin" "$work/sample" >/dev/null
  cp "$work/sample/PALETTE.PAL" "$work/game/"
  for i in $(seq 1 3000); do cp "$work/sample/CELS3/BRICK01.CEL" "$work/game/CELS3/W$i.CEL"; done
  python3 - "$export_bin" "$work/game" "$work/out" <<'EOF'
import pathlib, subprocess, sys, time
program, game, out = sys.argv[1:4]
command = [program, "-q", "--format", "png", game, out]
subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
start = time.monotonic()
subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
took = time.monotonic() - start
endings = []
for run in range(1, 21):
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(took * run / 21)
    child.terminate()
    code = child.wait()
    endings.append(f"killed by signal {-code}" if code < 0 else f"exit {code}")
left = list(pathlib.Path(out).rglob(".*.tmp"))
summary = ", ".join(f"{endings.count(e)} x {e}" for e in sorted(set(endings)))
print(f"re-export of 3000 walls as PNG: {took:.2f} s; SIGTERM spread over 20 of them: "
      f"{summary}; temporary files left: {len(left)}")
EOF
fi
