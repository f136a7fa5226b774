#!/usr/bin/env bash
# Runs build/bench/ui_latency: the whole program under Xvfb against kvsim doing the demo
# upgrade, inside a private network namespace (discovery broadcasts never reach a real
# network), and prints how late the window's event loop ran in each stage.
# The log file goes to a temporary data folder, never to the user's own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$root/build}" && pwd)
if [ -z "${KV_IN_NAMESPACE:-}" ]; then
  export KV_IN_NAMESPACE=1
  exec unshare -rn "$0" "$@"
fi
ip link set lo up

panel=127.0.0.2
family=panel-upgrade
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

export XDG_DATA_HOME=$work/data-home
"$build/sim/kvsim" --write-firmware "$work/firmware" --device "$family@$panel" >/dev/null
"$build/sim/kvsim" --device "$family@$panel" >"$work/kvsim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^ready' "$work/kvsim.log" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^ready' "$work/kvsim.log"; then
  echo "ui_latency: kvsim did not get ready:" >&2
  cat "$work/kvsim.log" >&2
  exit 1
fi

cd "$work"
timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/bench/ui_latency" --device "$panel" --family "$family" --firmware "$work/firmware" "$@"
