#!/usr/bin/env bash
# The tool's main job against simulated devices, inside a private network namespace
# (discovery broadcasts never reach a real network). Used by run.sh.
#
# kvsim serves an upgradable control panel on 127.0.0.2 (its cards take firmware, its
# module a web server image), a matrix on 127.0.0.3 and a fibre extender on a pty; the
# sample firmware files go to $BUILD_DIR/demo/firmware. With a display the program
# starts for the operator. Without one, kvdemo plays the operator under Xvfb (FIND,
# connect to 127.0.0.2, a file for every row, UPGRADE, the report, close) and the
# pictures of each stage, the report and the end of the log file are printed.
# The log file goes to $BUILD_DIR/demo/data-home, never to the user's own data folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$root/build}" && pwd)
. "$root/scripts/lib/kvsim-run.sh"
kv_private_network "$0" "$@"

demo=$build/demo
panel=127.0.0.2
family=panel-upgrade
firmware=$demo/firmware
pictures=$demo/pictures
export XDG_DATA_HOME=$demo/data-home
logdir=$XDG_DATA_HOME/Korvandel/KV_bootloader_v3_3_2
mkdir -p "$logdir" "$pictures"
rm -f "$pictures"/*.png

"$build/sim/kvsim" --write-firmware "$firmware" --device "$family@$panel" >/dev/null
echo "sample firmware files:"
ls -l "$firmware" | tail -n +2

work=$(mktemp -d)
cleanup() {
  kv_stop_kvsim
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

pty=$work/fibre-extender
kv_start_kvsim demo "$work/kvsim.log" --device "$family@$panel" --device matrix@127.0.0.3 \
  --pty "$pty"
echo "simulated devices: $family at $panel, matrix at 127.0.0.3, fibre extender on $pty"
export KV_EXTRA_SERIAL_PORTS=$pty

if [ -n "${DISPLAY:-}" ]; then
  echo "starting the program; sample files are in $firmware"
  echo "the log file is $logdir/logfile.txt"
  exec_status=0
  "$build/gui/korvandel-bootloader" || exec_status=$?
  exit $exec_status
fi

status=0
timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/demo/kvdemo" --device "$panel" --family "$family" \
  --firmware "$firmware" --pictures "$pictures" || status=$?
echo
echo "pictures: $pictures"
echo "log file: $logdir/logfile.txt"
echo "----- end of the log file -----"
tail -n 40 "$logdir/logfile.txt" 2>/dev/null || echo "(no log file)"
if [ "$status" -ne 0 ]; then
  echo "demo: the automated run FAILED (status $status)" >&2
fi
exit "$status"
