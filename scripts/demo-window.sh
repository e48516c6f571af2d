#!/usr/bin/env bash
# Starts the desktop window on the sample game folder, saves a picture of it and
# prints how long the first wall took to appear on screen. Without a display the
# window runs under Xvfb.
#   scripts/demo-window.sh [build folder] [picture file]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
shot="${2:-docs/screenshot.png}"
program="$build/bin/varek"
sample="$build/sample-game"

if [ ! -x "$program" ]; then
  echo "demo-window: $program not found; build the project first" >&2
  exit 1
fi
if [ ! -f "$sample/PALETTE.PAL" ]; then
  "$build/bin/varek-sample" "$sample"
fi
mkdir -p "$(dirname "$shot")"
shot="$(cd "$(dirname "$shot")" && pwd)/$(basename "$shot")"

# The launch time is taken just before the program starts, not before Xvfb does.
run_window='VAREK_TRACE_STARTUP=$(date +%s%N) exec "$0" "$1"'
export VAREK_SCREENSHOT="$shot" QT_QPA_PLATFORM=xcb
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
if [ -n "${DISPLAY:-}" ]; then
  bash -c "$run_window" "$program" "$sample"
else
  if ! command -v xvfb-run >/dev/null; then
    scripts/setup.sh xvfb xauth
  fi
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c "$run_window" "$program" "$sample"
fi
echo "Window picture: ${2:-docs/screenshot.png}"
