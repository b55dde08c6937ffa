#!/usr/bin/env bash
# Builds the Debian package of the Linux program into build-deb/ (zundrel_VERSION_ARCH.deb). Installs
# what it needs first: the program's build packages, and dpkg-dev, whose dpkg-shlibdeps computes the
# package's dependencies from the binary. Install the package with
#   sudo apt install ./build-deb/zundrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package
scripts/build.sh build-deb -DCMAKE_BUILD_TYPE=Release -DZUNDREL_TESTS=OFF
(cd build-deb && cpack -G DEB >/dev/null)
ls build-deb/zundrel_*.deb
