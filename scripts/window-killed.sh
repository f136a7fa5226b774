#!/usr/bin/env bash
# The window killed in the middle of an upgrade, as a crash or a power cut leaves it, and
# started again: inside a private network namespace, under Xvfb, against kvsim's
# upgradable control panel on 127.0.0.2. The first kvdemo is killed with SIGKILL while it
# writes the first card, which leaves the module switched over; the second plays FIND,
# connect, a file for every row and UPGRADE as an operator would.
# Passes when: the run journal held the dead run's entry; the second start's connect
# restored the device first (its line in the log) and connected; its upgrade is
# successful; no journal entry is left; every memory holds its file and the module is
# back in normal operation. Output goes to $BUILD_DIR/window-killed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$root/build}" && pwd)
. "$root/scripts/lib/kvsim-run.sh"
kv_private_network "$0" "$@"

out=$build/window-killed
panel=127.0.0.2
family=panel-upgrade
export XDG_DATA_HOME=$out/data-home
data=$XDG_DATA_HOME/Korvandel/KV_bootloader_v3_3_2
logfile=$data/logfile.txt
rm -rf "$out"
mkdir -p "$data" "$out/pictures-1" "$out/pictures-2"

"$build/sim/kvsim" --write-firmware "$out/firmware" --device "$family@$panel" >/dev/null
trap 'kv_stop_kvsim; [ -n "${demo_pid:-}" ] && kill -KILL "$demo_pid" 2>/dev/null || true' EXIT INT TERM
kv_start_kvsim window-killed "$out/kvsim.log" --device "$family@$panel"

demo() {  # pictures folder: kvdemo under Xvfb
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/demo/kvdemo" --device "$panel" \
    --family "$family" --firmware "$out/firmware" --pictures "$1"
}

# First life: killed once the first card is being written.
demo "$out/pictures-1" >"$out/kvdemo-1.log" 2>&1 &
runner=$!
demo_pid=""
for _ in $(seq 1200); do
  demo_pid=$(pgrep -f -- "--pictures $out/pictures-1" | while read -r pid; do
    [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = kvdemo ] && echo "$pid"; done | head -1 || true)
  if [ -n "$demo_pid" ] && grep -aq "Programming & Verifying RV-PNL16" "$logfile" 2>/dev/null; then
    break
  fi
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.25
done
if [ -z "$demo_pid" ] || ! grep -aq "Programming & Verifying RV-PNL16" "$logfile" 2>/dev/null; then
  echo "window-killed: the first run never reached a card's writes" >&2
  cat "$out/kvdemo-1.log" >&2
  exit 1
fi
sleep 1
kill -KILL "$demo_pid"
wait "$runner" 2>/dev/null || true
demo_pid=""
ls "$data/journal" >"$out/journal-after-kill.txt" 2>&1 || true

# Second life: the first contact restores the device, then the upgrade runs as usual.
status=0
timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/demo/kvdemo" \
  --device "$panel" --family "$family" --firmware "$out/firmware" \
  --pictures "$out/pictures-2" >"$out/kvdemo-2.log" 2>&1 || status=$?
ls -A "$data/journal" >"$out/journal-at-end.txt" 2>/dev/null || true
kv_stop_kvsim

cat "$out/kvdemo-2.log"
echo "----- kvsim at the end -----"
grep '^kvsim:' "$out/kvsim.log"

[ "$status" -eq 0 ] || { echo "window-killed: the second kvdemo ended with status $status" >&2; kv_failed=1; }
[ -s "$out/journal-after-kill.txt" ] || { echo "window-killed: the killed run left no journal entry" >&2; kv_failed=1; }
[ ! -s "$out/journal-at-end.txt" ] || { echo "window-killed: journal entries left: $(cat "$out/journal-at-end.txt")" >&2; kv_failed=1; }
kv_expect window-killed "$logfile" "Restoring $panel: a run stopped at "
kv_expect window-killed "$logfile" "may be incomplete"
kv_expect window-killed "$out/kvdemo-2.log" "Upgrade successful"
kv_expect window-killed "$out/kvsim.log" "card RV-PNL16: program memory equals its file"
kv_expect window-killed "$out/kvsim.log" "card RV-BTN16: program memory equals its file"
kv_expect window-killed "$out/kvsim.log" "web server image equals its file"
kv_expect window-killed "$out/kvsim.log" "module $panel: select code 7, serial 9600 bit/s no parity, bootloader mode off"
if [ "$kv_failed" -ne 0 ]; then
  echo "window-killed: FAILED" >&2
  exit 1
fi
echo "window-killed: the window killed mid-row came back: restored at the first connect, upgraded, journal empty"
