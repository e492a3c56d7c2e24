#!/usr/bin/env bash
# Builds the Debian package build/velunor_<version>_<arch>.deb from the build folder (CPack:
# the install rules of cmake/packaging.cmake, dependencies found by dpkg-shlibdeps), then checks
# it with lintian and the menu entry and software-centre files with their validators.
# Install it with:  sudo apt install ./build/velunor_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j2 --target velunor velunor-cli velunor-renderer velunor_compressed_docs
(cd build && cpack -G DEB >/dev/null)
package=$(ls build/velunor_*.deb)
echo "package: $package"

desktop-file-validate packaging/org.velunor.Velunor.desktop
appstreamcli validate --no-net packaging/org.velunor.Velunor.metainfo.xml
# Root may not run lintian's checks as it wants to; it is told that this is meant.
lintian_root=()
if [ "$(id -u)" -eq 0 ]; then
  lintian_root=(--allow-root)
fi
lintian "${lintian_root[@]}" --fail-on error "$package"
