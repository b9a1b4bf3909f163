#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and runs each for the
# given number of seconds (default 60), starting from the seed corpus in tests/fuzz/corpus. A crash leaves its
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
status=0
passed=0
failed=0
for t in "${TARGETS[@]}"; do
    mkdir -p "build-fuzz/corpus/$t"
    echo "== $t: ${SECONDS_EACH}s"
    if ! "build-fuzz/tests/fuzz/$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$t-" "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" \
        2>"build-fuzz/$t.log"; then
        status=1
        failed=$((failed + 1))
        tail -30 "build-fuzz/$t.log"
    else
        passed=$((passed + 1))
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "build-fuzz/$t.log" || true
done
echo "fuzz: $passed passed, $failed failed"
exit $status
