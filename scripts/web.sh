#!/usr/bin/env bash
# The page: the core compiled to WebAssembly with Debian's Emscripten, built into
# build-web/page and served on this machine only.
#   scripts/web.sh          builds, then serves the page and prints its address
#   scripts/web.sh --build  builds only
#   scripts/web.sh --test   builds, runs the core's tests under node and the page's
#                           test in headless Chromium (needs the desktop build in build/)
# giflib is compiled from Debian's source package of the version the desktop links,
# fetched once into build-web/ with a source list of its own (the system's apt
# configuration is left as it is).
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-}"
case "$mode" in
  "" | --build | --test) ;;
  *)
    echo "usage: scripts/web.sh [--build | --test]" >&2
    exit 2
    ;;
esac

packages=(emscripten dpkg-dev nodejs libgtest-dev)
if [ "$mode" = --test ]; then
  packages+=(chromium)
  # A node of another origin brings its own npm, which Debian's would conflict with.
  command -v npm >/dev/null || packages+=(npm)
fi
scripts/setup.sh "${packages[@]}"
# Debian's node finds Emscripten's own JavaScript tools only here.
export NODE_PATH=/usr/share/nodejs
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"

giflib=build-web/giflib
if [ ! -f "$giflib/egif_lib.c" ]; then
  apt_dir="$PWD/build-web/apt"
  mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/source"
  # The system's Debian archives, as source lists.
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && sed 's/^Types:.*/Types: deb-src/' "$file" >"$apt_dir/parts/$(basename "$file")"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt_dir/parts/system.list"
  fi
  apt_options=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/parts"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o Debug::NoLocking=1
    -o APT::Sandbox::User=root)
  # A third-party archive without sources fails its part of the update, not the rest.
  apt-get "${apt_options[@]}" update -qq || true
  version="$(dpkg-query -W -f='${Version}' libgif7 2>/dev/null || true)"
  (cd "$apt_dir/source" &&
    { apt-get "${apt_options[@]}" source --download-only -qq "giflib${version:+=$version}" ||
      apt-get "${apt_options[@]}" source --download-only -qq giflib; })
  rm -rf "$giflib"
  dpkg-source --no-check -x "$apt_dir"/source/giflib_*.dsc "$giflib" >/dev/null
fi

emcmake cmake -S . -B build-web -G Ninja -DCMAKE_BUILD_TYPE=Release -DVAREK_WEB=ON \
  -DVAREK_GIFLIB_SOURCE="$PWD/$giflib" >/dev/null
cmake --build build-web

case "$mode" in
  --build) ;;
  --test)
    ctest --test-dir build-web --output-on-failure
    # The page against the desktop exporter of the same checkout.
    if [ ! -x build/bin/varek-export ] || [ ! -f build/sample-game/PALETTE.PAL ]; then
      cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
      cmake --build build --target varek-export sample-game
    fi
    npm ci --prefix web/tests --no-audit --no-fund --silent
    node web/tests/page.test.js build-web/page build/bin/varek-export build/sample-game
    ;;
  "")
    port="${VAREK_WEB_PORT:-8000}"
    echo "Varek's page: http://localhost:$port/ (Ctrl+C ends it)"
    exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build-web/page
    ;;
esac
