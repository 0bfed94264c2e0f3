#!/usr/bin/env bash
# Cross-builds the program for arm64 (Raspberry Pi OS 12 / Debian 12 arm64) on
# this amd64 Debian 12 machine and makes build-arm64/tavrik-decoder_<version>-1_arm64.deb,
# with the same contents as the amd64 package and its dependencies computed
# from the arm64 libraries. Also reached as `scripts/package.sh --arch arm64`.
#
# Installs what it needs when missing (as root): the arm64 architecture for
# apt, the cross compiler, the arm64 development packages (they install beside
# the amd64 ones) and qemu-user-static, which scripts/test-arm64.sh uses.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=build-arm64

scripts/install-deps.sh
cross_packages=(
  crossbuild-essential-arm64 qemu-user-static
  qt6-base-dev:arm64 qt6-charts-dev:arm64 qt6-httpserver-dev:arm64 qt6-websockets-dev:arm64
  libsqlite3-dev:arm64 libgtest-dev:arm64
)
missing=()
for p in "${cross_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "run as root to install missing packages" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    dpkg --add-architecture arm64
  fi
  apt-get -o DPkg::Lock::Timeout=900 update -qq
  apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${missing[@]}"
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTAVRIK_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j "${TAVRIK_JOBS:-2}"
rm -f "$build"/tavrik-decoder_*.deb
# dpkg-shlibdeps (run by CPack) reads the arm64 libraries' symbols files and
# uses the arm64 objdump when told the package is for arm64.
(cd "$build" && DEB_HOST_ARCH=arm64 cpack -G DEB)
deb=$(ls "$build"/tavrik-decoder_*_arm64.deb)
echo
dpkg-deb --field "$deb"
echo "package: $top/$deb"
