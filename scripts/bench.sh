#!/usr/bin/env bash
# Builds (Release) and runs every benchmark; figures go to standard output. Exits non-zero when one fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKREL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)"
# The clips and pages that bench_picture and bench_flood play (the web player tests' site).
bash tests/support/web_players.sh "$PWD/build-bench/web-players" >/dev/null
failed=0
for b in build-bench/bench/bench_*; do
    # Only the programs: the build also leaves bench_*_autogen folders here.
    [ -f "$b" ] && [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    if ! "$b"; then
        echo "== $(basename "$b") FAILED"
        failed=$((failed + 1))
    fi
done
exit $((failed > 0))
