#!/usr/bin/env bash
# Builds the tests with the sanitizers into a folder of their own and runs them; any
# report stops the test that made it, which then fails.
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer, every test
#                                 (build-asan/, or $BUILD_DIR)
#   scripts/sanitize.sh thread    ThreadSanitizer, the tests of the engine thread and its
#                                 hand-over to the window thread (build-tsan/, or $BUILD_DIR)
# JOBS sets the parallel jobs (default: all cores). Run scripts/setup.sh first on a fresh
# machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-}
jobs=${JOBS:-$(nproc)}

# The thread-check tests: the engine's own thread, the engine/window hand-over (questions
# answered by dialogs on the window thread) and shutting down with a question pending.
tsan_targets=(app_tests kv_gui_engine_bridge_test kv_gui_dialogs_test)
tsan_tests='^Engine\.|^kv_gui_engine_bridge_test$|^kv_gui_dialogs_test$'

case "$kind" in
  address)
    build=${BUILD_DIR:-$root/build-asan}
    sanitize=address,undefined
    # Line tables are enough for the reports' stack traces and keep the build quick;
    # the library's own bounds checks catch what stays inside a container's capacity.
    flags="-O1 -g1 -D_GLIBCXX_ASSERTIONS"
    ;;
  thread)
    build=${BUILD_DIR:-$root/build-tsan}
    sanitize=thread
    flags="-O1 -g1"
    ;;
  *)
    echo "usage: $0 address|thread" >&2
    exit 2
    ;;
esac

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Warnings stay errors in the normal build; with the sanitizers' instrumentation GCC
# reports uninitialised values inside the standard library that are not there.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Sanitize \
  -DCMAKE_CXX_FLAGS_SANITIZE="$flags" -DKV_SANITIZE="$sanitize" \
  -DKV_PACKAGING=OFF -DKV_BENCH=OFF -DKV_WERROR=OFF "${launcher[@]}" ${CMAKE_ARGS:-} >/dev/null

supp=$root/scripts/sanitizers
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
# Qt is not built with the thread checker: the C library calls that Qt's own code makes
# (its wait conditions, thread joins, frees) are not checked, every access of ours is.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$supp/tsan.supp:print_suppressions=0"

cd "$build"
if [ "$kind" = address ]; then
  cmake --build . -j"$jobs"
  ctest --output-on-failure -j"$jobs" --timeout 900
else
  cmake --build . -j"$jobs" --target "${tsan_targets[@]}"
  ctest --output-on-failure -j"$jobs" --timeout 900 -R "$tsan_tests"
fi
