#!/usr/bin/env bash
# Installs, from Debian's archive, what is not installed yet of:
#   scripts/install-deps.sh          what building and starting the program need
#   scripts/install-deps.sh --tests  that, and what the test command needs
#   scripts/install-deps.sh --list [--tests]   prints the package names, installs nothing
# Run as root on Debian 12 (amd64, or arm64 such as Raspberry Pi OS 12).
# scripts/check-deps.py holds these lists to what the build and the tests really
# use: a package they read from that is neither listed here nor pulled in by a
# listed one fails the test command, named.
set -euo pipefail

# Building and starting: the compiler and build tools, the Qt and SQLite
# development packages the build finds, and the virtual display start.sh uses
# where there is no screen. These go in without the packages they merely
# recommend, so two that are only recommended are named: Qt's platform plugins
# (the window needs them) and Qt OpenGL's development files (Qt Charts' CMake
# package files need them). Debian's qt6-httpserver-dev does not pull in
# qt6-websockets-dev, which its CMake package files need.
base=(
  build-essential cmake ninja-build pkg-config ccache file
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev libgl-dev
  qt6-httpserver-dev qt6-websockets-dev
  libsqlite3-dev
  qt6-qpa-plugins xvfb xauth fonts-dejavu-core
)

# The test command (scripts/test.sh), the benchmarks and the fuzzing runs: test
# frameworks, sanitizer runtimes, and the real programs the tests talk to.
tests=(
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 openssl sqlite3
  direwolf util-linux iproute2
  chromium prometheus influxdb influxdb-client
  libhamlib-utils python3-sgp4 python3-skyfield
  fonts-liberation dbus-daemon at-spi2-core python3-pyatspi
  xdotool xclip x11-apps imagemagick
  desktop-file-utils
)

with_tests=0
list_only=0
for arg in "$@"; do
  case "$arg" in
    --tests) with_tests=1 ;;
    --list) list_only=1 ;;
    *) echo "usage: scripts/install-deps.sh [--tests] [--list]" >&2; exit 2 ;;
  esac
done
packages=("${base[@]}")
((with_tests)) && packages+=("${tests[@]}")
if ((list_only)); then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

# Lists the packages of the list given that are not installed yet.
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing_base < <(missing_of "${base[@]}")
missing_tests=()
((with_tests)) && mapfile -t missing_tests < <(missing_of "${tests[@]}")
if ((${#missing_base[@]} + ${#missing_tests[@]})); then
  echo "installing: ${missing_base[*]} ${missing_tests[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "run as root to install missing packages" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=900 update -qq
  if ((${#missing_base[@]})); then
    apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing_base[@]}"
  fi
  # The test programs come with what they recommend (fonts, helpers), as a
  # developer's machine has them.
  if ((${#missing_tests[@]})); then
    apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${missing_tests[@]}"
  fi
fi
