#!/usr/bin/env bash
# Runs build/bench/ui_latency: the whole program under Xvfb against kvsim doing the demo
# upgrade, inside a private network namespace (discovery broadcasts never reach a real
# network), and prints how late the window's event loop ran in each stage.
# The log file goes to a temporary data folder, never to the user's own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$root/build}" && pwd)
. "$root/scripts/lib/kvsim-run.sh"
kv_private_network "$0" "$@"

panel=127.0.0.2
family=panel-upgrade
work=$(mktemp -d)
cleanup() {
  kv_stop_kvsim
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

export XDG_DATA_HOME=$work/data-home
"$build/sim/kvsim" --write-firmware "$work/firmware" --device "$family@$panel" >/dev/null
kv_start_kvsim ui_latency "$work/kvsim.log" --device "$family@$panel"

cd "$work"
timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/bench/ui_latency" --device "$panel" --family "$family" --firmware "$work/firmware" "$@"
