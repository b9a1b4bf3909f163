#!/usr/bin/env bash
# The threaded parts under ThreadSanitizer: the reader thread (also on the real HID adapter) and the software
# remote, the download workers and the update flow, and the audio adapter's main loop. Run before submitting; the
# suppressions cover only the uninstrumented Qt and PulseAudio libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKREL_SANITIZE=thread -DKREL_BUILD_BENCH=OFF \
    >/dev/null
cmake --build build-tsan -j"$(nproc)" --target test_remote test_hid test_download test_update test_audio krel-remote
export TSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/tsan.supp halt_on_error=1 second_deadlock_stack=1 die_after_fork=0"
for t in test_remote test_hid test_download test_update test_audio; do
    echo "== $t"
    QT_QPA_PLATFORM=offscreen "build-tsan/tests/$t"
done
