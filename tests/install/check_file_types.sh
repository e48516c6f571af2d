#!/usr/bin/env bash
# Checks what file managers meet of an installed varek, with the MIME database the
# environment's XDG folders give: an FLI renamed so that its name says nothing is
# known as a FLIC animation by its bytes, and the thumbnailer writes a PNG of the
# asked size of it and of a still picture, and fails cleanly on a damaged file.
#   check_file_types.sh THUMBNAILER ANIMATION STILL [--no-types]
# ANIMATION is a 320 x 200 FLI file, STILL a still picture; --no-types leaves out
# the type by content (no MIME database could be built). Exits 1 on a failure.
set -euo pipefail
thumbnailer="$1"
animation="$2"
still="$3"

work="$(mktemp -d "${TMPDIR:-/tmp}/varek-types.XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The type by content, through GIO as file managers ask for it.
cp "$animation" "$work/renamed.bin"
cp "$still" "$work/still.cel"
if [ "${4:-}" = --no-types ]; then
  echo "no MIME database: the type by content was not checked"
elif command -v gio >/dev/null; then
  type="$(gio info -a standard::content-type "$work/renamed.bin" |
    sed -n 's/^ *standard::content-type: //p')"
  [ "$type" = video/x-flic ] || fail "an FLI named renamed.bin is of type '$type', not video/x-flic"
else
  echo "gio is not installed: the type by content was not checked"
fi

# "W H" of a PNG file, from its header chunk.
png_size() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || return 1
  od -An -j16 -N8 -tu1 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }'
}

# Input, size, expected "W H": the 320 x 200 animation scaled down, and up by a
# whole factor; the still picture within the size.
while read -r input size expected; do
  rm -f "$work/thumb.png"
  if timeout 30 "$thumbnailer" -s "$size" "$work/$input" "$work/thumb.png" 2>"$work/err"; then
    got="$(png_size "$work/thumb.png" || echo "no PNG")"
    if [ "$expected" = still ]; then
      read -r w h <<<"$got"
      [ "${w:-0}" -ge 1 ] && [ "$w" -le "$size" ] && [ "${h:-0}" -ge 1 ] && [ "$h" -le "$size" ] ||
        fail "the thumbnail of $input at $size is $got"
    else
      [ "$got" = "$expected" ] || fail "the thumbnail of $input at $size is $got, not $expected"
    fi
  else
    fail "the thumbnailer failed on $input at $size: $(cat "$work/err")"
  fi
done <<EOT
renamed.bin 128 128 80
renamed.bin 640 640 400
still.cel 128 still
EOT

# A file cut in its first frame gives no thumbnail: exit 1, one line on standard
# error, nothing at the output, and within a time limit.
head -c 300 "$animation" >"$work/damaged.fli"
status=0
timeout 30 "$thumbnailer" -s 128 "$work/damaged.fli" "$work/damaged.png" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "the thumbnailer ended with $status on a damaged file, not 1"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "the thumbnailer did not say in one line why: $(cat "$work/err")"
[ -z "$(ls -A "$work" | grep -v -e '^renamed.bin$' -e '^still.cel$' -e '^damaged.fli$' -e '^err$' -e '^thumb.png$')" ] ||
  fail "the failed thumbnail left files behind: $(ls -A "$work")"

if [ "$failures" -gt 0 ]; then
  exit 1
fi
echo "file types and thumbnails in order"
