#!/usr/bin/env bash
# The whole test suite on a fresh machine: installs what is missing, configures,
# builds and runs every test.
#   scripts/test.sh                 Release build in build/
#   scripts/test.sh --sanitize      the same suite built with AddressSanitizer,
#                                   UndefinedBehaviorSanitizer and LeakSanitizer in build-asan/
#   scripts/test.sh --tsan          the exporter's tests built with ThreadSanitizer in build-tsan/
#   scripts/test.sh --unprivileged  the same suite as the unprivileged user nobody, where
#                                   permission bits apply; run as root it runs the Release
#                                   build in build/ as nobody, run as any other user it is
#                                   the plain run
# The sanitizer builds compile at -O1 with line tables only: about 40 % less compile
# time than -O2 -g, and every report still names the file and line.
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

if [ "$mode" = --sanitize ]; then
  # xvfb-run gives the window's tests a real X server as well as the offscreen one.
  scripts/setup.sh xvfb xauth
else
  scripts/setup.sh
fi
export QT_QPA_PLATFORM=offscreen
sanitizer_flags="-O1 -g1 -DNDEBUG"

# The Release build the plain and the unprivileged run share.
build_release() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build build
}

case "$mode" in
  --sanitize)
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$sanitizer_flags" -DVAREK_SANITIZE=ON -DVAREK_BUILD_BENCH=OFF
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
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$sanitizer_flags" -DVAREK_TSAN=ON -DVAREK_BUILD_BENCH=OFF
    cmake --build build-tsan --target varek_cli_tests replay_export
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    ctest --test-dir build-tsan --output-on-failure -j2 -R '^(cli\.|corpus_export$)' \
      --no-tests=error
    ;;
  --unprivileged)
    # Root passes every permission check, so the tests of read-only files and
    # folders prove little as root. nobody runs the suite of the Release build,
    # with a home, a temporary folder and ctest's log folder of its own under /tmp.
    build_release
    user=65534
    group=65534
    build="$PWD/build"
    work="$(mktemp -d /tmp/varek-unprivileged.XXXXXX)"
    opened=()
    manifest="$build/install_manifest.txt"
    finish() {
      for dir in "${opened[@]}"; do chmod o-x "$dir"; done
      [ ! -e "$manifest" ] || chown 0:0 "$manifest"
      rm -rf "$work"
    }
    trap finish EXIT
    mkdir -p "$work/home" "$work/tmp" "$work/runtime" "$work/ctest"
    chmod 755 "$work"
    chmod 700 "$work/runtime"
    # ctest writes its logs where it runs: in nobody's folder, whose test file
    # hands on to the build's.
    printf 'subdirs("%s")\n' "$build" >"$work/ctest/CTestTestfile.cmake"
    chown -R "$user:$group" "$work"
    # The install test's `cmake --install` records what it installed in the build
    # folder, the one file there nobody writes.
    touch "$manifest"
    chown "$user:$group" "$manifest"
    # The build holds absolute paths into the checkout, so nobody must pass through
    # every folder above both (a checkout under /root is closed to others): those
    # that shut others out let them pass, not list, until the run ends.
    for dir in "$PWD" "$build"; do
      while [ "$dir" != / ]; do
        if [ -z "$(find "$dir" -maxdepth 0 -perm -o=x)" ]; then
          chmod o+x "$dir"
          opened+=("$dir")
        fi
        dir="$(dirname "$dir")"
      done
    done
    as_nobody() {
      setpriv --reuid="$user" --regid="$group" --clear-groups \
        env HOME="$work/home" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/runtime" \
        USER=nobody LOGNAME=nobody "$@"
    }
    for file in "$build/CTestTestfile.cmake" "$PWD/tests/lsan.supp"; do
      as_nobody test -r "$file" ||
        { echo "nobody cannot read $file: the checkout and build/ must be readable by others" >&2; exit 1; }
    done
    as_nobody ctest --test-dir "$work/ctest" --output-on-failure -j2
    ;;
  *)
    build_release
    ctest --test-dir build --output-on-failure -j2
    ;;
esac
