#!/usr/bin/env bash
# Runs the real program for MINUTES (default 30) as a household would, on its own two-monitor X server, sound server
# and web pages, printing its process tree's memory, open files and threads as it goes; exits non-zero when they grow
# (bench/soak.cpp says how). KREL_SOAK_BUILD names a build folder to use (default: build, configured when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
MINUTES=${1:-30}
BUILD=${KREL_SOAK_BUILD:-build}
if [ ! -f "$BUILD/build.ninja" ]; then
    bash scripts/deps.sh
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j"$(nproc)" --target krel_soak
# The streaming pages and clips of the web player tests.
bash tests/support/web_players.sh "$PWD/$BUILD/web-players" >/dev/null
exec "$BUILD/bench/krel_soak" "$MINUTES"
