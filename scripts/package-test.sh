#!/usr/bin/env bash
# Builds the Debian package, checks its files and control fields and its udev rule, installs it with dpkg
# (apt-get fetching what it depends on), starts the installed program offscreen in a
# network namespace of its own until its start banner is in the log file, removes the
# package and checks that nothing of it is left but the user's log folder.
# Needs root (dpkg); CI runs it after the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
package=korvandel-bootloader
app_id=com.korvandel.Bootloader
version=$(sed -n 's/^project(KorvandelBootloader VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

fail() {
  echo "package-test: FAILED: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root to install the package"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
  fail "$package is installed already; remove it first (dpkg -r $package)"
fi

deb=$("$root/scripts/package.sh" | tail -n 1)
[ "$(basename "$deb")" = "${package}_${version}_amd64.deb" ] || fail "unexpected package name $deb"
echo "package: $deb"

# The files: programs, menu entry, metainfo, icons, manual pages, Debian's doc files.
expected=(
  ./usr/bin/korvandel-bootloader
  ./usr/bin/kvsim
  ./usr/bin/kvboot
  ./usr/lib/$package/korvandel-bootloader
  ./usr/share/applications/$app_id.desktop
  ./usr/share/metainfo/$app_id.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/$package.svg
  ./usr/share/man/man1/korvandel-bootloader.1.gz
  ./usr/share/man/man1/kvsim.1.gz
  ./usr/share/man/man1/kvboot.1.gz
  ./usr/share/doc/$package/copyright
  ./usr/share/doc/$package/changelog.gz
)
for side in 16 22 24 32 48 64 128 256; do
  expected+=(./usr/share/icons/hicolor/${side}x${side}/apps/$package.png)
done
# The udev rule, and every file of the Ansible collection where Ansible finds system-wide
# collections.
rule=./usr/lib/udev/rules.d/70-korvandel.rules
collection=integrations/ansible/ansible_collections/korvandel/bootloader
expected+=("$rule")
while IFS= read -r file; do
  expected+=("./usr/share/ansible/collections/ansible_collections/korvandel/bootloader/$file")
done < <(cd "$root/$collection" && find . -type f ! -path '*/__pycache__/*' ! -name '*.pyc' | sed 's|^\./||')
listing=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for file in "${expected[@]}"; do
  grep -qxF "$file" <<<"$listing" || fail "$file is not in the package"
done
unexpected=$(grep -v -e '/$' <<<"$listing" | grep -vxF -f <(printf '%s\n' "${expected[@]}") || true)
[ -z "$unexpected" ] || fail "files not meant for the package: $unexpected"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$package" ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = electronics ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
synopsis=$(field Description)
[[ "${synopsis%%$'\n'*}" == *"upgrade their firmware" ]] || fail "Description: $synopsis"
# Computed by dpkg-shlibdeps from the programs' libraries, not listed by hand.
depends=$(field Depends)
for library in libc6 libqt6widgets6 libqt6network6 libqt6serialport6 libhidapi-hidraw0 libpoco; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
# Each PNG icon has the size of its folder; the menu entry and the metainfo name the
# icon, program and menu entry that are installed.
contents=$(mktemp -d)
dpkg-deb -x "$deb" "$contents"
for side in 16 22 24 32 48 64 128 256; do
  png=$contents/usr/share/icons/hicolor/${side}x${side}/apps/$package.png
  size=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$png")
  [ "$size" = "${side}x${side}" ] || fail "$png is $size"
done
grep -q "<svg" "$contents/usr/share/icons/hicolor/scalable/apps/$package.svg" || fail "SVG icon"
desktop=$contents/usr/share/applications/$app_id.desktop
grep -qx "Icon=$package" "$desktop" || fail "the menu entry names another icon"
grep -qx "Exec=korvandel-bootloader" "$desktop" || fail "the menu entry starts another program"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" \
  "$contents/usr/share/metainfo/$app_id.metainfo.xml" || fail "metainfo names another menu entry"
grep -q "<release version=\"$version\"" "$contents/usr/share/metainfo/$app_id.metainfo.xml" \
  || fail "metainfo release is not $version"
# The rule matches the manufacturer the program lists, and parses: udevadm verify where
# this udev has it, else a check of every line's keys, operators and quoted values.
maker=$(sed -n 's/.*kHidMakerName = "\(.*\)";/\1/p' "$root/discovery/UsbDeviceList.h")
[ -n "$maker" ] || fail "no manufacturer name in discovery/UsbDeviceList.h"
grep -q "ATTRS{manufacturer}==\"$maker\"" "$contents/$rule" || fail "the udev rule does not match manufacturer $maker"
for wanted in 'SUBSYSTEM=="hidraw"' 'TAG+="uaccess"' 'GROUP="plugdev"' 'MODE="0660"'; do
  grep -qF "$wanted" "$contents/$rule" || fail "the udev rule lacks $wanted"
done
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$contents/$rule" || fail "udevadm verify refuses the rule"
else
  python3 - "$contents/$rule" <<'CHECK' || fail "the udev rule does not parse"
import re, sys
token = re.compile(r'\s*([A-Z_]+)(\{[^}]+\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*$')
matches = {'ACTION', 'KERNEL', 'KERNELS', 'SUBSYSTEM', 'SUBSYSTEMS', 'DRIVER', 'DRIVERS',
           'ATTR', 'ATTRS', 'ENV', 'TAG', 'TAGS', 'PROGRAM', 'RESULT'}
assigns = {'TAG', 'GROUP', 'MODE', 'OWNER', 'ENV', 'RUN', 'SYMLINK', 'OPTIONS'}
rules = 0
for number, line in enumerate(open(sys.argv[1]), 1):
    if not line.strip() or line.lstrip().startswith('#'):
        continue
    for part in re.findall(r'(?:[^,"]|"[^"]*")+', line.strip()):
        m = token.match(part)
        if not m or (m.group(3) in ('==', '!=') and m.group(1) not in matches) or \
                (m.group(3) not in ('==', '!=') and m.group(1) not in assigns):
            sys.exit('line %d: cannot read %r' % (number, part.strip()))
    rules += 1
sys.exit(0 if rules else 'no rule')
CHECK
fi
# postinst reloads the rules only where udev runs.
dpkg-deb -I "$deb" postinst | grep -q "udevadm control --reload-rules" || fail "postinst does not reload udev rules"
rm -rf "$contents"
echo "control fields, file list and udev rule: ok"

# Debian's own checks: no errors (the warnings left are listed in the README).
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" || fail "lintian found errors"
  echo "lintian: no errors"
fi

work=$(mktemp -d)
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  # dpkg leaves the package unconfigured when a dependency is missing; apt-get fetches
  # the dependencies and finishes the configuration.
  apt-get -f install -y -qq >>"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log" >&2
    fail "installing the package"
  }
fi
dpkg-query -W -f='${Status}' "$package" | grep -q "install ok installed" || fail "not installed"
[ "$(command -v korvandel-bootloader)" = /usr/bin/korvandel-bootloader ] || fail "not on the PATH"
echo "installed"

# The installed program through its launcher, which makes the log folder; offscreen, in its own network (it may broadcast) and IPC
# namespaces, with a data folder and temporary folder of its own.
data=$work/data-home
log=$data/Korvandel/KV_bootloader_v3_3_2/logfile.txt
mkdir -p "$data" "$work/tmp"
XDG_DATA_HOME=$data TMPDIR=$work/tmp QT_QPA_PLATFORM=offscreen \
  unshare -rni sh -c 'ip link set lo up; exec /usr/bin/korvandel-bootloader' \
  >"$work/program.log" 2>&1 &
app_pid=$!
for _ in $(seq 150); do
  grep -q "Korvandel Bootloader" "$log" 2>/dev/null && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.2
done
sleep 1
alive=yes
kill -0 "$app_pid" 2>/dev/null || alive=no
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
if ! grep -q "^Timestamp:" "$log" 2>/dev/null || ! grep -qx $'Korvandel Bootloader\r' "$log"; then
  cat "$work/program.log" >&2
  fail "no start banner in $log"
fi
[ "$alive" = yes ] || fail "the program ended by itself: $(cat "$work/program.log")"
echo "start banner in the log file:"
head -n 4 "$log"

# Ansible finds the installed collection without being told where it is.
if command -v ansible-doc >/dev/null; then
  for module in kvboot_info kvboot_upgrade kvboot_recover; do
    env -u ANSIBLE_COLLECTIONS_PATH HOME="$work" ansible-doc "korvandel.bootloader.$module" \
      >"$work/doc.log" 2>&1 || { cat "$work/doc.log" >&2; fail "ansible-doc korvandel.bootloader.$module"; }
  done
  echo "ansible-doc finds the installed collection"
fi

dpkg -r "$package" >"$work/dpkg.log" 2>&1 || {
  cat "$work/dpkg.log" >&2
  fail "removing the package"
}
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
  fail "still installed after dpkg -r"
fi
[ -z "$(dpkg -L "$package" 2>/dev/null)" ] || fail "dpkg -L still lists files"
for file in "${expected[@]}"; do
  [ ! -e "${file#.}" ] || fail "${file#.} is left after removal"
done
[ ! -e /usr/share/doc/$package ] || fail "/usr/share/doc/$package is left"
[ -f "$log" ] || fail "the user's log folder went with the package"
echo "removed; the user's log folder stays: $(dirname "$log")"
echo "package-test: ok"
