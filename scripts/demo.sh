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
if [ -z "${KV_IN_NAMESPACE:-}" ]; then
  export KV_IN_NAMESPACE=1
  exec unshare -rn "$0" "$@"
fi
ip link set lo up

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
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

pty=$work/fibre-extender
"$build/sim/kvsim" --device "$family@$panel" --device matrix@127.0.0.3 --pty "$pty" \
  >"$work/kvsim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^ready' "$work/kvsim.log" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^ready' "$work/kvsim.log"; then
  echo "demo: kvsim did not get ready:" >&2
  cat "$work/kvsim.log" >&2
  exit 1
fi
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
