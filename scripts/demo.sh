#!/usr/bin/env bash
# Starts kvsim and the tool in their own network namespace. Used by run.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [ -z "${KV_IN_NAMESPACE:-}" ]; then
  export KV_IN_NAMESPACE=1
  exec unshare -rn "$0" "$@"
fi
ip link set lo up
export XDG_DATA_HOME=${XDG_DATA_HOME:-$HOME/.local/share}
mkdir -p "$XDG_DATA_HOME/Korvandel/KV_bootloader_v3_3_2"
"$build/sim/kvsim" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  xvfb-run -a "$build/app/gui/korvandel-bootloader" "$@"
else
  "$build/app/gui/korvandel-bootloader" "$@"
fi
