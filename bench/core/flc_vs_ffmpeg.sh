#!/usr/bin/env bash
# FLC decode at 640 x 480 (or SIZE): frames/s and MB/s of file read, ours beside
# `ffmpeg -i X.FLC -f null -` on the same file in the same run, in alternating
# rounds, medians reported. Ours is the core's decode of the file held in memory
# (varek_bench's BM_DecodeNamedFile); ffmpeg's figure is the whole program, start
# and file read included. When the core does not decode the file, its reason is
# printed and only ffmpeg's figure. A measurement, not a test.
# Usage: bench/core/flc_vs_ffmpeg.sh [BUILD_FOLDER]   (default build/, built with
#        the benchmarks: scripts/bench.sh)
# Environment:
#   SIZE       WIDTHxHEIGHT of the animation (640x480)
#   FRAMES     frames of the animation (1000)
#   RUNS       rounds (7)
#   BENCH_DIR  where the file goes (default a new folder under the system's
#              temporary folder)
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
size="${SIZE:-640x480}"
frames="${FRAMES:-1000}"
runs="${RUNS:-7}"
sample_bin="$build/bin/varek-sample"
bench_bin="$build/bench/core/varek_bench"
for program in "$sample_bin" "$bench_bin"; do
  [ -x "$program" ] || { echo "missing $program: run scripts/bench.sh first" >&2; exit 1; }
done
if ! command -v ffmpeg >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq ffmpeg
fi

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/varek-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
animation="$work/BENCH.FLC"
"$sample_bin" --flc "$size" "$frames" "$animation"
cat "$animation" >/dev/null  # both start with the file in the page cache
file_bytes="$(stat -c %s "$animation")"
decoded_frames=$((frames + 1))  # the ring frame is decoded too

# One round of ours: the median wall time of one decode in ms, or "error MESSAGE".
ours() {
  VAREK_BENCH_FILE="$animation" "$bench_bin" --benchmark_filter='^BM_DecodeNamedFile/' \
    --benchmark_format=csv 2>/dev/null | awk -F, '
      NR > 1 && /,true,"/ { sub(/.*,true,"/, ""); sub(/"$/, ""); print "error " $0; exit }
      NR > 1 { print $3; exit }'
}
theirs() {
  local start end
  start="$(date +%s%N)"
  ffmpeg -nostdin -v error -i "$animation" -f null - || exit 1
  end="$(date +%s%N)"
  awk -v ns="$((end - start))" 'BEGIN { printf "%.3f\n", ns / 1e6 }'
}

theirs >/dev/null  # one run first, so ffmpeg does not pay for loading its libraries
: >"$work/ours.txt"
: >"$work/ffmpeg.txt"
ours_error=""
for _ in $(seq "$runs"); do
  if [ -z "$ours_error" ]; then
    result="$(ours)"
    case "$result" in
      error*) ours_error="${result#error }" ;;
      "") ours_error="varek_bench gave no result" ;;
      *) echo "$result" >>"$work/ours.txt" ;;
    esac
  fi
  theirs >>"$work/ffmpeg.txt"
done

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
row() {
  awk -v name="$1" -v ms="$2" -v f="$decoded_frames" -v b="$file_bytes" \
    'BEGIN { printf "%-8s %12.1f %12.1f %12.1f\n", name, ms, f / (ms / 1000), b / 1e6 / (ms / 1000) }'
}

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Animation: varek-sample --flc $size $frames, $file_bytes bytes, $decoded_frames frames decoded; medians of $runs rounds"
printf '%-8s %12s %12s %12s\n' decoder "ms a file" "frames/s" "MB/s"
ffmpeg_ms="$(median "$work/ffmpeg.txt")"
if [ -n "$ours_error" ]; then
  echo "varek    not measured: $ours_error"
else
  ours_ms="$(median "$work/ours.txt")"
  row varek "$ours_ms"
fi
row ffmpeg "$ffmpeg_ms"
if [ -z "$ours_error" ]; then
  awk -v a="$ours_ms" -v b="$ffmpeg_ms" 'BEGIN { printf "varek / ffmpeg speed: %.2f\n", b / a }'
fi
