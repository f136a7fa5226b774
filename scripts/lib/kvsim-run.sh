# Shared by the scripts that run the program against kvsim (sourced, not run).
#
#   kv_private_network "$0" "$@"   re-runs the calling script in a network namespace of its
#                                  own (loopback only), so discovery broadcasts never reach
#                                  a real network; returns inside it with lo up.
#   kv_start_kvsim NAME LOG ARGS   starts kvsim with ARGS, its output in LOG, and waits
#                                  until it says "ready"; exits with kvsim's output when it
#                                  does not. Sets sim_pid; kv_stop_kvsim ends it.
#   kv_expect NAME FILE TEXT       notes (kv_failed=1, a line on stderr) when FILE lacks the
#                                  fixed TEXT
# Needs $build (the build folder).

kv_private_network() {
  if [ -z "${KV_IN_NAMESPACE:-}" ]; then
    export KV_IN_NAMESPACE=1
    exec unshare -rn "$@"
  fi
  ip link set lo up
}

sim_pid=""

kv_start_kvsim() {
  local name=$1 log=$2
  shift 2
  "$build/sim/kvsim" "$@" >"$log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$log" && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "$name: kvsim did not get ready:" >&2
  cat "$log" >&2
  exit 1
}

kv_stop_kvsim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
}

kv_failed=0

kv_expect() {
  if ! grep -aqF -- "$3" "$2"; then
    echo "$1: missing in $2: $3" >&2
    kv_failed=1
  fi
}
