#!/usr/bin/env bash
# Installs what is missing, builds the program for release in build-package
# and makes the Debian package build-package/tavrik-decoder_<version>-1_<arch>.deb
# (install it with: apt install ./build-package/tavrik-decoder_*.deb).
#
#   scripts/package.sh --arch arm64   cross-builds the arm64 package instead
#                                     (scripts/package-arm64.sh, build-arm64/)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=
while (($#)); do
  case "$1" in
    --arch) arch=${2:?--arch needs amd64 or arm64}; shift 2 ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    *) echo "usage: scripts/package.sh [--arch arm64]" >&2; exit 2 ;;
  esac
done
case "$arch" in
  "" | "$(dpkg --print-architecture)") ;;
  arm64) exec scripts/package-arm64.sh ;;
  *) echo "scripts/package.sh: no cross build for $arch (arm64 is the one there is)" >&2; exit 2 ;;
esac
scripts/install-deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIK_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package
rm -f build-package/tavrik-decoder_*.deb
(cd build-package && cpack -G DEB)
deb=$(ls build-package/tavrik-decoder_*.deb)
echo
dpkg-deb --field "$deb"
echo "package: $PWD/$deb"
