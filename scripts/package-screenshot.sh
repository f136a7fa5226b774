#!/usr/bin/env bash
# Takes the picture of the installed program's window for the README
# (docs/installed-window.png): installs the package built by scripts/package.sh, starts
# the installed program under Xvfb in a network namespace of its own, photographs the
# screen and removes the package again. Needs root (dpkg).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$("$root/scripts/package.sh" | tail -n 1)
work=$(mktemp -d)
trap 'dpkg -r korvandel-bootloader >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
dpkg -i "$deb" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get -f install -y -qq >/dev/null
mkdir -p "$root/docs" "$work/data" "$work/tmp"
cat >"$work/shot.sh" <<'INNER'
set -eu
/usr/bin/korvandel-bootloader &
sleep 6
import -window root "$1"
kill $!
INNER
XDG_DATA_HOME=$work/data TMPDIR=$work/tmp unshare -rni sh -c \
  'ip link set lo up; exec xvfb-run -a -s "-screen 0 1280x1024x24" sh "$0" "$1"' \
  "$work/shot.sh" "$work/screen.png"
# A small PNG: the window's part of the screen, in a limited palette.
convert "$work/screen.png" -trim +repage -colors 128 -strip "PNG8:$root/docs/installed-window.png"
ls -l "$root/docs/installed-window.png"
