#!/usr/bin/env bash
# Builds the Debian package korvandel-bootloader_<version>_amd64.deb (the window program
# and kvsim) from the build in build/ (or $BUILD_DIR), configuring it first when there is
# none. Prints the path of the package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [ ! -f "$build/CPackConfig.cmake" ]; then
  launcher=()
  if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
    "${launcher[@]}" ${CMAKE_ARGS:-} >/dev/null
fi
cmake --build "$build" -j"${JOBS:-$(nproc)}" --target korvandel-bootloader kvsim kv_package_files
out=$build/package
mkdir -p "$out"
rm -f "$out"/*.deb
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log") || {
  cat "$out/cpack.log" >&2
  exit 1
}
ls "$out"/korvandel-bootloader_*_amd64.deb
