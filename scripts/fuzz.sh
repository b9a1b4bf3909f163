#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and runs each for the
# given number of seconds (default 60), as many side by side as there are cores, starting from the seed corpus in tests/fuzz/corpus. A crash leaves its
# input in build-fuzz/artifacts and makes the script fail; keep such inputs in the corpus as regression cases.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
bash scripts/deps.sh
TARGETS=(fuzz_hid_report fuzz_data_files fuzz_version_file fuzz_settings fuzz_remote_line fuzz_archive fuzz_edid)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKREL_FUZZ=ON \
    -DKREL_SANITIZE=address,undefined -DKREL_BUILD_TESTS=OFF -DKREL_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${TARGETS[@]}"
mkdir -p build-fuzz/artifacts
# One target on each core at a time: each runs for its whole time, in half the wall time on two cores.
run_target() {
    local t=$1
    mkdir -p "build-fuzz/corpus/$t"
    if "build-fuzz/tests/fuzz/$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$t-" "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" \
        2>"build-fuzz/$t.log"; then
        echo ok > "build-fuzz/$t.result"
    else
        echo failed > "build-fuzz/$t.result"
    fi
}
JOBS=$(nproc)
running=0
for t in "${TARGETS[@]}"; do
    echo "== $t: ${SECONDS_EACH}s"
    rm -f "build-fuzz/$t.result"
    run_target "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$JOBS" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait
status=0
passed=0
failed=0
for t in "${TARGETS[@]}"; do
    if [ "$(cat "build-fuzz/$t.result" 2>/dev/null)" = ok ]; then
        passed=$((passed + 1))
    else
        status=1
        failed=$((failed + 1))
        echo "== $t FAILED"
        tail -30 "build-fuzz/$t.log"
    fi
    echo "== $t"
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "build-fuzz/$t.log" || true
done
echo "fuzz: $passed passed, $failed failed"
exit $status
