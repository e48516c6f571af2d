#!/usr/bin/env bash
# Builds the Debian package of varek and varek-export from the Release build in
# build/ (the one scripts/test.sh makes) into build/package/.
#   scripts/package.sh           build the package
#   scripts/package.sh --check   build it, then check it as a user would meet it:
#                                lintian, the desktop entry and the AppStream
#                                metadata validated, installed with apt-get, run
#                                from /usr/bin, FLIC files known by their content
#                                and thumbnailed, then removed without a trace.
#                                Installs into the system: for CI and test machines.
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
case "${1:-}" in
  "") ;;
  --check) check=true ;;
  *)
    echo "usage: scripts/package.sh [--check]" >&2
    exit 2
    ;;
esac

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# dpkg-shlibdeps (dpkg-dev) and file work out the package's dependencies.
tools=(dpkg-dev file)
# shared-mime-info builds the MIME database from the package's triggers; gio
# (libglib2.0-bin) asks it for a file's type as file managers do.
$check && tools+=(lintian desktop-file-utils appstream man-db shared-mime-info libglib2.0-bin)
scripts/setup.sh "${tools[@]}"

# The same configuration as scripts/test.sh, so the tests' build is reused as it is.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
rm -rf build/package
cpack --config build/CPackConfig.cmake -B build/package
package="$(find build/package -maxdepth 1 -name 'varek_*.deb')"
[ -n "$package" ] || { echo "cpack wrote no package" >&2; exit 1; }
echo "Package: $package"
dpkg-deb --info "$package"
$check || exit 0

id="$(dpkg-deb --contents "$package" | sed -n 's|.*/usr/share/applications/\(.*\)\.desktop$|\1|p')"
[ -n "$id" ] || { echo "the package holds no desktop entry" >&2; exit 1; }

echo "== lintian"
# Warnings are shown and accepted (see the README); errors fail the run.
lintian --fail-on error --display-info "$package"

echo "== desktop entry and AppStream metadata"
staged="$(mktemp -d)"
installed=false
finish() {
  # A check that failed with the package installed leaves the system as it found it.
  if $installed; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq varek >/dev/null || true
  fi
  rm -rf "$staged"
}
trap finish EXIT
dpkg-deb --extract "$package" "$staged"
desktop-file-validate "$staged/usr/share/applications/$id.desktop"
# --no-net: the screenshot and home page addresses are not fetched.
appstreamcli validate --no-net --pedantic "$staged/usr/share/metainfo/$id.metainfo.xml"

echo "== install"
installed=true
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$package"
version="$(dpkg-query -W -f='${Version}' varek)"
[ "$(varek-export --version)" = "varek-export $version" ]
[ "$(command -v varek-export)" = /usr/bin/varek-export ]
man -w varek-export
[ "$(varek-import --version)" = "varek-import $version" ]
man -w varek-import
man -w varek
man -w varek-thumbnailer
desktop-file-validate "/usr/share/applications/$id.desktop"

# The window from /usr/bin, offscreen, with settings of its own: on the sample game
# folder, then without a folder as the desktop's menu starts it, when it opens the
# folder used before. VAREK_SCREENSHOT makes it save a picture of itself and quit.
home="$staged/home"
mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
for folder in "$PWD/build/sample-game" ""; do
  rm -f "$home/window.png"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/runtime" \
    QT_QPA_PLATFORM=offscreen \
    VAREK_SCREENSHOT="$home/window.png" timeout 60 /usr/bin/varek ${folder:+"$folder"} </dev/null
  [ -s "$home/window.png" ]
done
echo "varek started from /usr/bin on the sample game folder and from the menu"

# The MIME database the package's triggers rebuilt knows an FLI by its content,
# and the installed thumbnailer makes its pictures.
animation="$(find build/sample-game/FLI -maxdepth 1 -type f -iname '*.fli' | sort | head -1)"
still="$(find build/sample-game/STILLCEL -maxdepth 1 -type f -iname '*.cel' | sort | head -1)"
HOME="$home" XDG_DATA_HOME="$home/data" \
  tests/install/check_file_types.sh /usr/bin/varek-thumbnailer "$animation" "$still"

echo "== remove"
files="$(dpkg-query -L varek | while read -r path; do [ -d "$path" ] || echo "$path"; done)"
grep -qx /usr/bin/varek <<<"$files" || { echo "dpkg does not list /usr/bin/varek" >&2; exit 1; }
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq varek
installed=false
status="$(dpkg-query -W -f='${Status}' varek 2>/dev/null || true)"
case "$status" in
  "" | *" not-installed") ;;
  *)
    echo "varek is not gone after the purge: $status" >&2
    exit 1
    ;;
esac
left=0
while read -r path; do
  if [ -e "$path" ]; then
    echo "left behind: $path" >&2
    left=1
  fi
done <<<"$files"
[ "$left" -eq 0 ]
# The triggers took the type by content away again.
cp "$animation" "$staged/renamed.bin"
type="$(HOME="$home" XDG_DATA_HOME="$home/data" gio info -a standard::content-type "$staged/renamed.bin" |
  sed -n 's/^ *standard::content-type: //p')"
[ "$type" != video/x-flic ] || { echo "the MIME database still knows FLI files by content" >&2; exit 1; }
echo "package installed, ran and was removed without a trace: $(basename "$package")"
