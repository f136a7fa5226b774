#!/usr/bin/env bash
# Sets up the machine, builds, and starts the tool against the simulated devices
# inside a private network namespace (discovery broadcasts never reach a real network).
# Without a display it runs under Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
exec "$root/scripts/demo.sh" "$@"
