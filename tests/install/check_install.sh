#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, checks that exactly the files a
# desktop install needs are there, that the installed programs, desktop entry and
# metainfo all carry one version, then runs the installed programs: an export, the
# thumbnailer and the FLIC type by content (check_file_types.sh), and
# the window started once on a game folder and once from the menu, without one.
#   check_install.sh BUILD_DIR SAMPLE_GAME_FOLDER APP_ID
set -euo pipefail
build="$1"
sample="$2"
id="$3"

work="$(mktemp -d "${TMPDIR:-/tmp}/varek-install.XXXXXX")"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }

expected=(
  bin/varek-export share/man/man1/varek-export.1 share/doc/varek/copyright
  bin/varek-import share/man/man1/varek-import.1
  bin/varek-thumbnailer share/man/man1/varek-thumbnailer.1
  "share/mime/packages/$id.xml" "share/thumbnailers/$id.thumbnailer"
)
window=false
[ -x "$build/bin/varek" ] && window=true
if $window; then
  expected+=(
    bin/varek
    share/man/man1/varek.1
    "share/applications/$id.desktop"
    "share/metainfo/$id.metainfo.xml"
    "share/icons/hicolor/scalable/apps/$id.svg"
    "share/icons/hicolor/48x48/apps/$id.png"
    "share/icons/hicolor/256x256/apps/$id.png"
  )
fi
# Nothing more and nothing less: the authoring tools, tests and benchmarks stay out.
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -printf '%P\n' | sort) ||
  fail "the installed files differ from the list above (< missing, > not expected)"
for program in varek varek-export varek-import varek-thumbnailer; do
  if [ -e "$prefix/bin/$program" ] && [ ! -x "$prefix/bin/$program" ]; then
    fail "bin/$program is not executable"
  fi
done

version="$("$prefix/bin/varek-export" --version)" || fail "varek-export --version failed"
version="${version#varek-export }"
[ -n "$version" ] || fail "varek-export --version printed no version"

# The manual pages give every exit status --help gives.
for program in varek-export varek-import; do
  for status in 0 1 2 128; do
    "$prefix/bin/$program" --help | grep -q "\b$status\b" || fail "$program --help gives no exit status $status"
    sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' "$prefix/share/man/man1/$program.1" |
      grep -q "^\.BI\? $status\b" || fail "the $program manual page's EXIT STATUS leaves out $status"
  done
done
[ "$("$prefix/bin/varek-import" --version)" = "varek-import $version" ] ||
  fail "varek-import --version does not give the version of varek-export"

out="$work/out"
if "$prefix/bin/varek-export" --quiet --category stills "$sample" "$out" >"$work/export.log"; then
  stills=$(find "$sample/STILLCEL" -maxdepth 1 -type f -iname '*.cel' | wc -l)
  written=$(find "$out/STILLCEL" -type f -name '*.bmp' | wc -l)
  [ "$stills" -gt 0 ] && [ "$written" -eq "$stills" ] ||
    fail "the installed varek-export wrote $written BMP files for $stills still pictures"
else
  fail "the installed varek-export failed on the sample game folder"
fi

# File managers: the FLIC type by content from a MIME database built over the
# installed package file (as the package's triggers build it), and the thumbnailer
# its entry names.
thumbnailer="$prefix/share/thumbnailers/$id.thumbnailer"
grep -qx "Exec=varek-thumbnailer -s %s %i %o" "$thumbnailer" ||
  fail "the thumbnailer entry does not run varek-thumbnailer as the convention asks"
grep -qx "MimeType=video/x-flic;" "$thumbnailer" || fail "the thumbnailer entry is not for video/x-flic"
[ "$("$prefix/bin/varek-thumbnailer" --version)" = "varek-thumbnailer $version" ] ||
  fail "varek-thumbnailer --version does not say varek-thumbnailer $version"
types=()
if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime" >/dev/null 2>&1 || fail "update-mime-database failed"
else
  types=(--no-types)
fi
mkdir -p "$work/data"
XDG_DATA_HOME="$work/data" XDG_DATA_DIRS="$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" \
  "$(dirname "$0")/check_file_types.sh" "$prefix/bin/varek-thumbnailer" \
  "$(find "$sample/FLI" -maxdepth 1 -type f -iname '*.fli' | sort | head -1)" \
  "$(find "$sample/STILLCEL" -maxdepth 1 -type f -iname '*.cel' | sort | head -1)" "${types[@]}" ||
  fail "file types or thumbnails"

if $window; then
  desktop="$prefix/share/applications/$id.desktop"
  metainfo="$prefix/share/metainfo/$id.metainfo.xml"
  [ "$("$prefix/bin/varek" --version)" = "varek $version" ] ||
    fail "varek --version does not say varek $version"
  grep -qx "X-Varek-Version=$version" "$desktop" || fail "the desktop entry is not for $version"
  grep -qx "Exec=varek %f" "$desktop" || fail "the desktop entry does not start varek with a folder"
  grep -qx "Icon=$id" "$desktop" || fail "the desktop entry does not name the icon $id"
  grep -qx "MimeType=video/x-flic;" "$desktop" || fail "the desktop entry does not open FLIC animations"
  # Claiming a folder type would make the window the desktop's handler of every folder.
  ! grep -q "^MimeType=.*inode/" "$desktop" || fail "the desktop entry claims a folder type"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

  # The window from the installed folder, with settings of its own: once on the
  # sample folder, then with no folder as the menu starts it. Its own folder is no
  # game folder, so it must open the folder used before, not fail or ask.
  # VAREK_SCREENSHOT makes it save a picture of itself and quit.
  mkdir -p "$work/home"
  run_window() {
    HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" VAREK_SCREENSHOT="$1" \
      timeout 60 "$prefix/bin/varek" "${@:2}" </dev/null
  }
  run_window "$work/first.png" "$sample" 2>"$work/first.log" && [ -s "$work/first.png" ] ||
    { cat "$work/first.log" >&2; fail "the installed varek did not show the sample game folder"; }
  run_window "$work/menu.png" 2>"$work/menu.log" && [ -s "$work/menu.png" ] ||
    { cat "$work/menu.log" >&2; fail "the installed varek without a folder did not open the last one"; }
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) of the installed tree failed" >&2
  exit 1
fi
echo "installed tree in order: ${#expected[@]} files, version $version"
