#!/usr/bin/env bash
# Times varek-export against ffmpeg on the same animation, in alternating pairs,
# and reports the median wall time, their ratio, CPU time, peak memory, the size
# of what each wrote and how soon varek-export wrote its first file. A
# measurement, not a test.
# Usage: bench/export/export_vs_ffmpeg.sh [BUILD_FOLDER]   (default build/, built)
# Environment:
#   FORMAT     bmp (default): one 8-bit BMP file a frame, ffmpeg -pix_fmt pal8 %05d.bmp
#              png: one PNG file a frame, ffmpeg %05d.png
#              gif: one animated GIF file, ffmpeg X.gif
#              apng: one animated PNG file, ffmpeg -plays 0 X.apng
#              webp: one lossless animated WebP file, ffmpeg -lossless 1 -loop 0
#              X.webp (FFmpeg built with libwebp), and the size of our GIF beside it
#              sheet: one sprite sheet and its JSON (--sheet), ffmpeg's tile
#              filter making the same grid as one PNG
#   FRAMES     frames of the animation (1000)
#   ANIMATION  sample (default): varek-sample --animation, a plasma, about 6.4 KB
#              a frame; flat: varek-sample --flat, mostly flat pictures, about
#              3 KB a PNG, where each file's own cost outweighs its compression
#   RUNS       pairs of runs (7)
#   BENCH_DIR  where the files go (default a new folder under the system's
#              temporary folder; /dev/shm measures without the disk)
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
frames="${FRAMES:-1000}"
format="${FORMAT:-bmp}"
case "$format" in
  bmp) ffmpeg_out=(-pix_fmt pal8 "%05d.bmp") ;;
  png) ffmpeg_out=("%05d.png") ;;
  gif) ffmpeg_out=("BENCH.gif") ;;
  sheet)
    columns=1
    while [ $(( columns * columns )) -lt "$frames" ]; do columns=$(( columns + 1 )); done
    rows=$(( (frames + columns - 1) / columns ))
    ffmpeg_out=(-vf "tile=${columns}x${rows}" -frames:v 1 "BENCH.png") ;;
  apng) ffmpeg_out=(-plays 0 "BENCH.apng") ;;
  webp) ffmpeg_out=(-lossless 1 -loop 0 "BENCH.webp") ;;
  *) echo "FORMAT must be bmp, png, gif, apng, webp or sheet" >&2; exit 2 ;;
esac
format_args=(--format "$format")
[ "$format" != sheet ] || format_args=(--sheet)
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
case "${ANIMATION:-sample}" in
  sample) "$sample_bin" --animation "$frames" "$animation" ;;
  flat) "$sample_bin" --flat "$frames" "$animation" ;;
  *) echo "ANIMATION must be sample or flat" >&2; exit 2 ;;
esac
cat "$animation" >/dev/null  # both programs start with the file in the page cache

# Runs a command under /usr/bin/time in the folder named second and appends
# "wall-seconds cpu-seconds peak-kilobytes bytes-written files" to the file named first,
# then removes what it wrote, so no run pays for another's files.
measure() {
  local results="$1" folder="$2"
  shift 2
  local start end
  mkdir -p "$folder"
  start="$(date +%s%N)"
  (cd "$folder" && /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt") || {
    cat "$work/stderr.txt" >&2
    exit 1
  }
  end="$(date +%s%N)"
  local bytes
  bytes="$(find "$folder" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')"
  files="$(find "$folder" -type f | wc -l)"
  awk -v wall="$(( end - start ))" -v bytes="$bytes" -v files="$files" -F': ' '
    /User time/ { cpu += $2 }
    /System time/ { cpu += $2 }
    /Maximum resident set size/ { kilobytes = $2 }
    END { printf "%.4f %.3f %d %d %d\n", wall / 1e9, cpu, kilobytes, bytes, files }' "$work/time.txt" >>"$results"
  rm -rf "$folder"
}

varek_run=("$export_bin" --quiet "${format_args[@]}" --category animations "$game")
ffmpeg_run=(ffmpeg -nostdin -loglevel error -i "$animation" "${ffmpeg_out[@]}")

# One run of each first, so neither pays for loading its libraries from disk.
measure "$work/warm.txt" "$work/warm-varek" "${varek_run[@]}" out
measure "$work/warm.txt" "$work/warm-ffmpeg" "${ffmpeg_run[@]}"
: >"$work/varek.txt"
: >"$work/ffmpeg.txt"
for run in $(seq "$runs"); do
  measure "$work/varek.txt" "$work/varek-$run" "${varek_run[@]}" out
  measure "$work/ffmpeg.txt" "$work/ffmpeg-$run" "${ffmpeg_run[@]}"
done

# Time to the first file: the export runs alone, and its files' modification
# times tell when the first one was complete.
first_file() {
  local folder="$work/first" start first
  start="$(date +%s.%N)"
  "${varek_run[@]}" "$folder" >/dev/null
  first="$(find "$folder" -type f -printf '%T@\n' | sort -n | head -1)"
  rm -rf "$folder"
  awk -v s="$start" -v f="$first" 'BEGIN { printf "%.3f", f - s }'
}

column_median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column_max() { cut -d' ' -f"$2" "$1" | sort -n | tail -1; }

varek_wall="$(column_median "$work/varek.txt" 1)"
ffmpeg_wall="$(column_median "$work/ffmpeg.txt" 1)"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Animation: ${ANIMATION:-sample}, $frames frames of 320 x 200, $(stat -c %s "$animation") bytes, as $format; medians of $runs alternating pairs"
printf '%-13s %9s %9s %15s %12s %7s\n' program "wall s" "CPU s" "peak RSS MiB" "output KiB" files
for program in varek-export ffmpeg; do
  results="$work/${program%-export}.txt"
  printf '%-13s %9.3f %9.3f %15.1f %12d %7d\n' "$program" "$(column_median "$results" 1)" \
    "$(column_median "$results" 2)" \
    "$(awk -v k="$(column_max "$results" 3)" 'BEGIN { print k / 1024 }')" \
    "$(( $(column_median "$results" 4) / 1024 ))" "$(column_median "$results" 5)"
done
awk -v a="$varek_wall" -v b="$ffmpeg_wall" \
  'BEGIN { printf "varek-export / ffmpeg wall time: %.2f\n", a / b }'
awk -v a="$(column_median "$work/varek.txt" 4)" -v b="$(column_median "$work/ffmpeg.txt" 4)" \
  'BEGIN { printf "varek-export / ffmpeg output size: %.2f\n", a / b }'
if [ "$format" = webp ]; then
  "$export_bin" --quiet --format gif --category animations "$game" "$work/gif" >/dev/null
  echo "varek-export's GIF of the same: $(( $(find "$work/gif" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }') / 1024 )) KiB"
  rm -rf "$work/gif"
fi
echo "varek-export's first file after $(first_file) s"
