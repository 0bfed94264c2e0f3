#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the program and the
# tests need and is not installed yet. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libgl-dev
  qt6-httpserver-dev chromium prometheus
  libgtest-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  clang libclang-rt-14-dev
  python3 openssl
  direwolf util-linux iproute2
  xvfb xauth fonts-dejavu-core fonts-liberation
  dbus-daemon at-spi2-core python3-pyatspi xdotool xclip x11-apps imagemagick
  dpkg-dev file desktop-file-utils
  influxdb influxdb-client
  valgrind linux-perf
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "run as root to install missing packages" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
