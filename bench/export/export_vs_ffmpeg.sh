#!/usr/bin/env bash
# Times varek-export against ffmpeg on the same 1000-frame animation, each writing
# one 8-bit BMP file per frame, and reports wall time, their ratio, CPU time and
# peak memory. A measurement, not a test.
# Usage: bench/export/export_vs_ffmpeg.sh [BUILD_FOLDER]   (default build/, built)
# Environment: FRAMES (1000), RUNS (7), BENCH_DIR (where the files go; default a
# new folder under the system's temporary folder).
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
frames="${FRAMES:-1000}"
runs="${RUNS:-7}"
export_bin="$build/bin/varek-export"
sample_bin="$build/bin/varek-sample"
for program in "$export_bin" "$sample_bin"; do
  [ -x "$program" ] || { echo "missing $program: build the project first" >&2; exit 1; }
done

missing=()
command -v ffmpeg >/dev/null || missing+=(ffmpeg)
[ -x /usr/bin/time ] || missing+=(time)
if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/varek-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# A game folder holding only the animation, with the palette file and the empty
# folders the game-folder checks ask for.
game="$work/game"
"$sample_bin" "$work/sample"
mkdir -p "$game/CELS3" "$game/STILLCEL" "$game/FLI"
cp "$work/sample/PALETTE.PAL" "$game/"
animation="$game/FLI/BENCH.FLI"
"$sample_bin" --animation "$frames" "$animation"
cat "$animation" >/dev/null  # both programs start with the file in the page cache

# Runs a command under /usr/bin/time and appends "wall-seconds cpu-seconds
# peak-kilobytes" to the file named first. Every run writes into a folder of its
# own: deleting thousands of files just before a run makes ext4 search longer for
# free inodes, which would slow whichever program runs next.
measure() {
  local results="$1"
  shift
  local start end
  start="$(date +%s%N)"
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
    cat "$work/stderr.txt" >&2
    exit 1
  }
  end="$(date +%s%N)"
  awk -v wall="$(( end - start ))" -F': ' '
    /User time/ { cpu += $2 }
    /System time/ { cpu += $2 }
    /Maximum resident set size/ { kilobytes = $2 }
    END { printf "%.4f %.3f %d\n", wall / 1e9, cpu, kilobytes }' "$work/time.txt" >>"$results"
}

# One run of each first, so neither pays for loading its libraries from disk.
"$export_bin" --quiet "$game" "$work/warm-varek" >/dev/null
mkdir -p "$work/warm-ffmpeg"
ffmpeg -nostdin -loglevel error -i "$animation" -pix_fmt pal8 "$work/warm-ffmpeg/%04d.bmp"
: >"$work/varek.txt"
: >"$work/ffmpeg.txt"
for run in $(seq "$runs"); do
  measure "$work/varek.txt" "$export_bin" --quiet "$game" "$work/varek-$run"
  mkdir -p "$work/ffmpeg-$run"
  measure "$work/ffmpeg.txt" ffmpeg -nostdin -loglevel error -i "$animation" -pix_fmt pal8 \
    "$work/ffmpeg-$run/%04d.bmp"
done

column_median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column_max() { cut -d' ' -f"$2" "$1" | sort -n | tail -1; }

varek_files="$(find "$work/varek-1/FLI" -name '*.bmp' | wc -l)"
ffmpeg_files="$(find "$work/ffmpeg-1" -name '*.bmp' | wc -l)"
varek_wall="$(column_median "$work/varek.txt" 1)"
ffmpeg_wall="$(column_median "$work/ffmpeg.txt" 1)"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Animation: $frames frames of 320 x 200, $(stat -c %s "$animation") bytes; medians of $runs runs each"
printf '%-13s %9s %9s %15s %7s\n' program "wall s" "CPU s" "peak RSS MiB" files
printf '%-13s %9.3f %9.3f %15.1f %7d\n' varek-export "$varek_wall" \
  "$(column_median "$work/varek.txt" 2)" "$(awk -v k="$(column_max "$work/varek.txt" 3)" 'BEGIN { print k / 1024 }')" "$varek_files"
printf '%-13s %9.3f %9.3f %15.1f %7d\n' ffmpeg "$ffmpeg_wall" \
  "$(column_median "$work/ffmpeg.txt" 2)" "$(awk -v k="$(column_max "$work/ffmpeg.txt" 3)" 'BEGIN { print k / 1024 }')" "$ffmpeg_files"
awk -v a="$varek_wall" -v b="$ffmpeg_wall" \
  'BEGIN { printf "varek-export / ffmpeg wall time: %.2f (goal: at most 0.50)\n", a / b }'
