#!/usr/bin/env bash
# Installs what is needed, builds from scratch into build/ and runs every test.
# Tests start their own X server, PulseAudio, D-Bus and HTTP servers and stop them again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

rm -rf build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 600
