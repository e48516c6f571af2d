#!/usr/bin/env bash
# The whole test suite on a fresh machine: installs what is missing, configures,
# builds and runs every test.
#   scripts/test.sh             Release build in build/
#   scripts/test.sh --sanitize  the same suite built with AddressSanitizer,
#                               UndefinedBehaviorSanitizer and LeakSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
if [ "${1:-}" = "--sanitize" ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAREK_SANITIZE=ON \
    -DVAREK_BUILD_BENCH=OFF
  cmake --build build-asan
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan --output-on-failure -j2
else
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build build
  QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
fi
