#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds
# Quindelo into build/ (executables in build/bin/).
# Usage: scripts/setup.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev pkg-config qt6-base-dev libgl-dev shared-mime-info
  libglib2.0-dev libatspi2.0-dev cups-client at-spi2-core dbus xvfb zenity)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -G Ninja "$@" >/dev/null
ninja -C build
