#!/usr/bin/env bash
# Runs one fuzz target with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer:
#   scripts/fuzz.sh TARGET [SECONDS]     (TARGET: a folder name under fuzz/corpus)
#   RUNS=10000000 scripts/fuzz.sh TARGET [SECONDS]
#                                        stops after RUNS executions (or SECONDS, when given)
# The clang build goes to build-fuzz/ (or $FUZZ_BUILD_DIR). New inputs found go to
# build-fuzz/corpus/TARGET; the seed corpus in fuzz/corpus/TARGET is only read.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS]}
runs=${RUNS:-}
if [[ -n "$runs" ]]; then seconds=${2:-0}; else seconds=${2:-60}; fi
if [[ ! -d "$root/fuzz/corpus/$target" ]]; then
  echo "unknown target '$target'; known: $(ls "$root/fuzz/corpus" | tr '\n' ' ')" >&2
  exit 2
fi
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CXX=${CXX:-clang++} cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_FUZZ=ON -DKV_WERROR=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}" --target "fuzz_$target"
work="$build/corpus/$target"
mkdir -p "$work"
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
cd "$build"
limits=(-max_total_time="$seconds")
if [[ -n "$runs" ]]; then limits+=(-runs="$runs"); fi
"$build/fuzz/fuzz_$target" "${limits[@]}" -print_final_stats=1 \
  "$work" "$root/fuzz/corpus/$target"
