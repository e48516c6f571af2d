#!/usr/bin/env bash
# Times varek-import putting a 1000-frame animation exported as a PNG sequence
# back into its game folder, and reports the size written against the original
# file's. FFmpeg has no FLI or FLC encoder, so `ffmpeg -i %04d.png out.fli`
# cannot run; its decoding of the same sequence (`-f null -`) is timed in
# alternating pairs instead, as the floor of what reading the pictures costs.
# A measurement, not a test.
# Usage: bench/import/import_vs_ffmpeg.sh [BUILD_FOLDER]   (default build/, built)
# Environment:
#   FRAMES     frames of the animation (1000)
#   RUNS       pairs of runs (5)
#   BENCH_DIR  where the files go (default a new folder under the system's
#              temporary folder; /dev/shm measures without the disk)
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
frames="${FRAMES:-1000}"
runs="${RUNS:-5}"
for program in varek-export varek-import varek-sample; do
  [ -x "$build/bin/$program" ] || { echo "missing $build/bin/$program: build first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed for the comparison" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (apt-get install time)" >&2; exit 1; }

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/varek-import-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bin/varek-sample" "$work/game" >/dev/null
rm -f "$work/game/FLI/"*
"$build/bin/varek-sample" --animation "$frames" "$work/game/FLI/BENCH.FLI" >/dev/null
"$build/bin/varek-export" -q --format png --category animations "$work/game" "$work/out" >/dev/null
cp "$work/game/FLI/BENCH.FLI" "$work/original.fli"
# One picture edited (the middle one shows the second's pixels), so the file is
# written and backed up, and the frames around the edit re-encoded.
pictures=("$work/out/FLI/"*.png)
cp "${pictures[1]}" "${pictures[${#pictures[@]} / 2]}"
first="$(ls "$work/out/FLI" | head -1)"
digits="${first#BENCH-}"
digits="${#digits}"
digits=$((digits - 4))

seconds() { # command...: wall seconds; peak KiB and CPU seconds into $work/peak
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M KiB, CPU %U s user + %S s system" -o "$work/peak" "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

ours=()
peer=()
for ((i = 0; i < runs; i++)); do
  cp "$work/original.fli" "$work/game/FLI/BENCH.FLI"
  rm -rf "$work/game/.varek-backup"
  ours+=("$(seconds "$build/bin/varek-import" -q --into "$work/game" "$work/out/FLI")")
  peak_ours=$(cat "$work/peak")
  peer+=("$(seconds ffmpeg -v error -i "$work/out/FLI/BENCH-%0${digits}d.png" -f null -)")
  peak_peer=$(cat "$work/peak")
done
ours_median=$(printf '%s\n' "${ours[@]}" | median)
peer_median=$(printf '%s\n' "${peer[@]}" | median)
cp "$work/original.fli" "$work/game/FLI/BENCH.FLI"
"$build/bin/varek-import" --into "$work/game" "$work/out/FLI" >"$work/import.log"
head -1 "$work/import.log"
written=$(stat -c %s "$work/game/FLI/BENCH.FLI")
original=$(stat -c %s "$work/original.fli")
echo "frames: $frames, runs: $runs"
echo "varek-import --into: median ${ours_median} s; last run ${peak_ours}"
echo "ffmpeg -i %0${digits}d.png -f null -: median ${peer_median} s; last run ${peak_peer}"
echo "ratio: $(echo "scale=2; $ours_median / $peer_median" | bc)"
echo "size written / original: $written / $original bytes"
