#!/bin/sh
# A small private network for discovery across a real broadcast:
#
#   DiscoveryNetns.sh MODULE_HOST COMMAND [ARGS...]
#
# This script re-runs itself in a new user and network namespace, where it makes the
# bridge kvbr0 (10.77.0.1/24) and two module hosts, 10.77.0.2 and 10.77.0.3, each in a
# network namespace of its own, joined to the bridge by a veth pair. MODULE_HOST serves a
# module in each; COMMAND then runs on the bridge side with KV_DISCOVERY_MODULES naming
# the two addresses. Nothing here can reach the machine's own network.
# Exit 77 (skipped) when namespaces, bridges or veth pairs are not available.
set -eu

skip() {
    echo "SKIPPED: $*" >&2
    exit 77
}

if [ -z "${KV_DISCOVERY_NETNS:-}" ]; then
    unshare -rn true 2>/dev/null || skip "no private network namespaces (unshare -rn)"
    KV_DISCOVERY_NETNS=1 exec unshare -rn sh "$0" "$@"
fi

host=$1
shift
ip link set lo up
ip link add kvbr0 type bridge 2>/dev/null || skip "cannot create a bridge in the namespace"
ip addr add 10.77.0.1/24 dev kvbr0
ip link set kvbr0 up

work=$(mktemp -d)
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

for i in 2 3; do
    ip link add "kvh$i" type veth peer name "kvm$i" 2>/dev/null ||
        skip "cannot create veth pairs in the namespace"
    ip link set "kvh$i" master kvbr0
    ip link set "kvh$i" up
    # The module's namespace says it exists, waits for its end of the cable, then serves
    # on it.
    unshare -n sh -c '
        i=$1 host=$2 ready=$3 n=0
        : >"$ready.ns"
        while ! ip link show "kvm$i" >/dev/null 2>&1; do
            n=$((n + 1)); [ $n -gt 200 ] && exit 1; sleep 0.05
        done
        ip link set lo up
        ip addr add "10.77.0.$i/24" dev "kvm$i"
        ip link set "kvm$i" up
        exec "$host" --address "10.77.0.$i" --ready "$ready"' sh "$i" "$host" "$work/ready$i" &
    pid=$!
    pids="$pids $pid"
    # Moved too early, the cable would stay here: wait until the child is in its namespace.
    n=0
    until [ -f "$work/ready$i.ns" ]; do
        n=$((n + 1))
        [ $n -gt 200 ] && { echo "module namespace $i did not start" >&2; exit 1; }
        sleep 0.05
    done
    ip link set "kvm$i" netns "$pid" || skip "cannot move a veth end into another namespace"
done

n=0
until [ -f "$work/ready2" ] && [ -f "$work/ready3" ]; do
    n=$((n + 1))
    if [ $n -gt 200 ]; then
        echo "the module hosts did not come up" >&2
        exit 1
    fi
    sleep 0.05
done

export KV_DISCOVERY_MODULES="10.77.0.2 10.77.0.3"
set +e
"$@"
rc=$?
set -e
exit $rc
