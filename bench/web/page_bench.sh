#!/usr/bin/env bash
# The page's figures in headless Chromium beside the native decode, in one run:
# the sample game folder with the benchmark animation (varek-sample --animation
# 1000) added as FLI/BENCH.FLI.
#   bench/web/page_bench.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds="${1:-7}"
scripts/web.sh --build >/dev/null
npm ci --prefix web/tests --no-audit --no-fund --silent
scripts/setup.sh libbenchmark-dev
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVAREK_BUILD_BENCH=ON >/dev/null
cmake --build build --target varek_bench varek-sample sample-game >/dev/null
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp -r build/sample-game "$scratch/game"
build/bin/varek-sample --animation 1000 "$scratch/game/FLI/BENCH.FLI" >/dev/null
VAREK_BENCH_FILE="$scratch/game/FLI/BENCH.FLI" build/bench/core/varek_bench \
  --benchmark_filter='BM_LoadNamedFile' --benchmark_repetitions="$rounds" \
  --benchmark_out="$scratch/native.json" --benchmark_out_format=json >/dev/null
NODE_PATH= node bench/web/page.bench.js build-web/page "$scratch/game" BENCH.FLI "$rounds" "$scratch/native.json"
