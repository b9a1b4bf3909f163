#!/usr/bin/env bash
# Builds (Release) and runs every benchmark; figures go to standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKREL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)"
for b in build-bench/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
done
