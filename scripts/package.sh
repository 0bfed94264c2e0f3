#!/usr/bin/env bash
# Installs what is missing, builds the program for release in build-package
# and makes the Debian package build-package/tavrik-decoder_<version>-1_<arch>.deb
# (install it with: apt install ./build-package/tavrik-decoder_*.deb).
set -euo pipefail
cd "$(dirname "$0")/.."
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
