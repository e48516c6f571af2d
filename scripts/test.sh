#!/usr/bin/env bash
# The whole test suite on a fresh machine: installs what is missing, configures,
# builds and runs every test.
#   scripts/test.sh                 Release build in build/
#   scripts/test.sh --sanitize      the same suite built with AddressSanitizer,
#                                   UndefinedBehaviorSanitizer and LeakSanitizer in build-asan/
#   scripts/test.sh --tsan          the exporter's tests built with ThreadSanitizer in build-tsan/
#   scripts/test.sh --unprivileged  the same suite as the unprivileged user nobody, where
#                                   permission bits apply; run as root it builds a copy of
#                                   the checkout owned by nobody in a temporary folder, run
#                                   as any other user it is the plain run
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-}"
case "$mode" in
  "" | --sanitize | --tsan | --unprivileged) ;;
  *)
    echo "usage: scripts/test.sh [--sanitize | --tsan | --unprivileged]" >&2
    exit 2
    ;;
esac
if [ "$mode" = --unprivileged ] && [ "$(id -u)" -ne 0 ]; then
  mode=""
fi

scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

case "$mode" in
  --sanitize)
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAREK_SANITIZE=ON \
      -DVAREK_BUILD_BENCH=OFF
    cmake --build build-asan
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    ctest --test-dir build-asan --output-on-failure -j2
    ;;
  --tsan)
    # Only code with threads of its own: varek-export writes an animation's frames
    # on several threads, under its end-to-end tests and the replay of the export
    # fuzz corpus. The window's tests stay out: Qt is not built with ThreadSanitizer,
    # so its own thread pool shows as races inside Qt.
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAREK_TSAN=ON \
      -DVAREK_BUILD_BENCH=OFF
    cmake --build build-tsan --target varek_cli_tests replay_export
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    ctest --test-dir build-tsan --output-on-failure -j2 -R '^(cli\.|corpus_export$)' \
      --no-tests=error
    ;;
  --unprivileged)
    # Root passes every permission check, so the tests of read-only files and
    # folders prove little as root. nobody cannot reach a checkout under /root, and
    # the build tree holds absolute paths, so nobody gets a copy of its own to build,
    # under /tmp, which every user can reach whatever root's TMPDIR says.
    user=65534
    group=65534
    work="$(mktemp -d /tmp/varek-unprivileged.XXXXXX)"
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/checkout" "$work/home" "$work/tmp" "$work/runtime"
    chmod 755 "$work"
    chmod 700 "$work/runtime"
    chown -R "$user:$group" "$work"
    as_nobody() {
      setpriv --reuid="$user" --regid="$group" --clear-groups \
        env HOME="$work/home" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/runtime" \
        USER=nobody LOGNAME=nobody "$@"
    }
    tar -C . --anchored --exclude=./.git --exclude='./build*' --exclude=./out -cf - . |
      as_nobody tar -C "$work/checkout" -xf -
    as_nobody cmake -S "$work/checkout" -B "$work/checkout/build" -G Ninja \
      -DCMAKE_BUILD_TYPE=Release -DVAREK_BUILD_BENCH=OFF
    as_nobody cmake --build "$work/checkout/build"
    as_nobody ctest --test-dir "$work/checkout/build" --output-on-failure -j2
    ;;
  *)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
    cmake --build build
    ctest --test-dir build --output-on-failure -j2
    ;;
esac
