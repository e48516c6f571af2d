#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for the given number of seconds
# (default 30), as many at once as there are cores (or FUZZ_JOBS), seeded from
# files the project's writers make and from the regression corpus. Inputs that
# crash are left in build-fuzz/findings.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(fli chunks art bmp images picture export)

scripts/setup.sh clang-14 libclang-rt-14-dev
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DVAREK_FUZZ=ON \
  -DVAREK_BUILD_TESTS=OFF -DVAREK_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target varek_make_corpus "${targets[@]/#/fuzz_}"

seeds=build-fuzz/seeds
rm -rf "$seeds"
build-fuzz/fuzz/varek_make_corpus "$seeds" >/dev/null
mkdir -p build-fuzz/findings

# As many targets at once as there are cores: each is a single process, so the run
# takes the slowest batch's time, not the sum.
jobs="${FUZZ_JOBS:-$(nproc)}"
run_target() {
  local target="$1" work="build-fuzz/corpus/$1" code=0
  mkdir -p "$work" "$seeds/$target"
  build-fuzz/fuzz/fuzz_"$target" "$work" "$seeds/$target" "tests/corpus/$target" \
    -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="build-fuzz/findings/$target-" -print_final_stats=1 \
    >"build-fuzz/fuzz-$target.log" 2>&1 || code=$?
  echo "$code" >"build-fuzz/fuzz-$target.status"
}
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  echo "== fuzz_$target for ${seconds}s"
  rm -f "build-fuzz/fuzz-$target.status"
  run_target "$target" &
  running=$((running + 1))
done
wait

status=0
for target in "${targets[@]}"; do
  echo "== fuzz_$target"
  if [ "$(cat "build-fuzz/fuzz-$target.status" 2>/dev/null)" != 0 ]; then
    status=1
    tail -n 40 "build-fuzz/fuzz-$target.log"
  fi
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|Done)' \
    "build-fuzz/fuzz-$target.log" || true
done
exit "$status"
