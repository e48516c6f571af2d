#!/usr/bin/env bash
# Rewrites the regression corpus under tests/corpus from the generator's output.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-corpus -G Ninja -DCMAKE_BUILD_TYPE=Release -DVAREK_BUILD_TESTS=OFF -DVAREK_BUILD_BENCH=OFF >/dev/null
cmake --build build-corpus --target varek_make_corpus >/dev/null
rm -rf tests/corpus/fli tests/corpus/chunks tests/corpus/art tests/corpus/bmp \
  tests/corpus/picture tests/corpus/export tests/corpus/images
build-corpus/fuzz/varek_make_corpus --regression tests/corpus
