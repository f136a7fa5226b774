#!/bin/sh
# The program under Xvfb against kvsim, in a private network namespace: presses FIND,
# waits for the answers and saves a picture of the screen.
#
#   DiscoveryDemo.sh BUILD_DIR OUTPUT_FOLDER
#
# kvsim serves two matrices on 127.0.0.2 and 127.0.0.3 and a serial device on a pty; a
# second, free pty comes from socat. Both ptys are offered through KV_EXTRA_SERIAL_PORTS.
# OUTPUT_FOLDER receives screen.png and logfile.txt.
set -eu
if [ -z "${KV_DISCOVERY_DEMO_NS:-}" ]; then
    KV_DISCOVERY_DEMO_NS=1 exec unshare -rn sh "$0" "$@"
fi
build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
ip link set lo up

work=$(mktemp -d)
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$build/sim/kvsim" --address 127.0.0.2 --address 127.0.0.3 --pty "$work/serial-device" \
    >"$work/kvsim.log" 2>&1 &
pids="$pids $!"
socat "pty,raw,echo=0,link=$work/free-port" "pty,raw,echo=0,link=$work/other-end" &
pids="$pids $!"
n=0
until grep -q '^ready' "$work/kvsim.log" 2>/dev/null && [ -e "$work/free-port" ]; do
    n=$((n + 1))
    [ $n -gt 100 ] && { cat "$work/kvsim.log" >&2; exit 1; }
    sleep 0.1
done

export XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_DATA_HOME/Korvandel/KV_bootloader_v3_3_2"
export KV_EXTRA_SERIAL_PORTS="$work/serial-device:$work/free-port:$work/no-such-port"
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    "$1" &
    program=$!
    sleep 3
    # FIND is at 0,120 (110 x 80) of the window, which is centred on the 1280 x 1024 screen.
    /usr/bin/python3 "$2" 285 286
    sleep 8
    import -window root "$3/screen.png"
    kill $program' sh "$build/gui/korvandel-bootloader" "$here/DiscoveryClick.py" "$out"
cp "$XDG_DATA_HOME/Korvandel/KV_bootloader_v3_3_2/logfile.txt" "$out/logfile.txt"
