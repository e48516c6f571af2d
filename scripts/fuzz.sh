#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for the given number of seconds
# (default 30), seeded from files the project's writers make and from the
# regression corpus. Inputs that crash are left in build-fuzz/findings.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(fli chunks art bmp picture export)

scripts/setup.sh clang-14 libclang-rt-14-dev
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DVAREK_FUZZ=ON \
  -DVAREK_BUILD_TESTS=OFF -DVAREK_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target varek_make_corpus "${targets[@]/#/fuzz_}"

seeds=build-fuzz/seeds
rm -rf "$seeds"
build-fuzz/fuzz/varek_make_corpus "$seeds" >/dev/null
mkdir -p build-fuzz/findings

status=0
for target in "${targets[@]}"; do
  work="build-fuzz/corpus/$target"
  mkdir -p "$work" "$seeds/$target"
  echo "== fuzz_$target for ${seconds}s"
  if ! build-fuzz/fuzz/fuzz_"$target" "$work" "$seeds/$target" "tests/corpus/$target" \
      -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="build-fuzz/findings/$target-" -print_final_stats=1 \
      >"build-fuzz/fuzz-$target.log" 2>&1; then
    status=1
    tail -n 40 "build-fuzz/fuzz-$target.log"
  fi
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|Done)' \
    "build-fuzz/fuzz-$target.log" || true
done
exit "$status"
