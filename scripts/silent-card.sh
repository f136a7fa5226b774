#!/usr/bin/env bash
# The whole program against kvsim with a card that falls silent in the middle of its
# transfer, inside a private network namespace, under Xvfb. kvsim serves the upgradable
# control panel on 127.0.0.2 whose second card (RV-BTN16) stops answering after its erase
# and a few writes; kvdemo plays FIND, connect, a file for every row, UPGRADE, the report
# and close. Then kvsim is stopped and tells what the devices hold.
# Passes when: the report says RV-BTN16...FAILED and "Upgrade FAILED", the other card and
# the web server image hold their files, and the module is back in normal operation.
# Output goes to $BUILD_DIR/silent-card (pictures, log file, kvsim's end state).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$root/build}" && pwd)
. "$root/scripts/lib/kvsim-run.sh"
kv_private_network "$0" "$@"

out=$build/silent-card
panel=127.0.0.2
family=panel-upgrade
# The card's erase takes 2016 frames; it falls silent 60 frames into writing.
silent_after=2076
export XDG_DATA_HOME=$out/data-home
logfile=$XDG_DATA_HOME/Korvandel/KV_bootloader_v3_3_2/logfile.txt
rm -rf "$out"
mkdir -p "$(dirname "$logfile")" "$out/pictures"

"$build/sim/kvsim" --write-firmware "$out/firmware" --device "$family@$panel" >/dev/null

trap kv_stop_kvsim EXIT INT TERM
kv_start_kvsim silent-card "$out/kvsim.log" --device "$family@$panel" \
  --silent-card-after "$silent_after"

status=0
timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/demo/kvdemo" --device "$panel" --family "$family" \
  --firmware "$out/firmware" --pictures "$out/pictures" --failing-run \
  >"$out/kvdemo.log" 2>&1 || status=$?
kv_stop_kvsim

cat "$out/kvdemo.log"
echo "----- the report in the log file -----"
grep -a -A 9 'UPGRADE PROCEDURE REPORT' "$logfile" | tr -d '\r' || true
echo "----- kvsim at the end -----"
grep '^kvsim:' "$out/kvsim.log"

[ "$status" -eq 0 ] || { echo "silent-card: kvdemo ended with status $status" >&2; kv_failed=1; }
kv_expect silent-card "$logfile" "RV-PNL16...OK"
kv_expect silent-card "$logfile" "RV-BTN16...FAILED"
kv_expect silent-card "$logfile" "Web Server...OK"
kv_expect silent-card "$out/kvdemo.log" "Upgrade FAILED"
kv_expect silent-card "$out/kvsim.log" "card RV-PNL16: program memory equals its file"
kv_expect silent-card "$out/kvsim.log" "card RV-BTN16: program memory differs from its file"
kv_expect silent-card "$out/kvsim.log" "web server image equals its file"
kv_expect silent-card "$out/kvsim.log" "module $panel: select code 7, serial 9600 bit/s no parity, bootloader mode off"
if [ "$kv_failed" -ne 0 ]; then
  echo "silent-card: FAILED" >&2
  exit 1
fi
echo "silent-card: the silent card's row failed, the others hold their files, the device is restored"
