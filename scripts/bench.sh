#!/usr/bin/env bash
# Builds the benchmarks into the Release build in build/ (the test builds leave
# them out), then runs the ones named, with any further arguments given to each.
#   scripts/bench.sh                       build them: build/bench/core/varek_bench,
#                                          varek_write_bench, build/bench/window/varek_window_bench
#   scripts/bench.sh varek_bench [ARG...]  build them and run one, e.g.
#                                          --benchmark_filter=DecodeFLIFile
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVAREK_BUILD_BENCH=ON >/dev/null
cmake --build build
[ "$#" -gt 0 ] || exit 0
program="$(find build/bench -type f -name "$1" -perm -u=x | head -n 1)"
[ -n "$program" ] || { echo "bench: no benchmark $1 under build/bench" >&2; exit 2; }
shift
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
exec "$program" "$@"
