#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config clang-format
  libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-serialport-dev libhidapi-dev libpoco-dev zlib1g-dev
  xvfb xauth imagemagick x11-apps fonts-dejavu-core
  python3 python3-pyftpdlib python3-intelhex srecord socat stm32flash zip
  iproute2 util-linux
  dpkg-dev lintian
  ansible-core python3-voluptuous
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
