#!/usr/bin/env bash
# Builds the Debian package build-package/krel_<version>_<arch>.deb (installed under /usr) and checks it with
# lintian. Install it with: sudo apt install ./build-package/krel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DKREL_BUILD_TESTS=OFF -DKREL_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB)
lintian --fail-on error build-package/krel_*.deb
