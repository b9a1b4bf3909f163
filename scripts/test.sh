#!/usr/bin/env bash
# Installs what is needed, builds from scratch and runs every test: the normal build, a three-minute soak of the
# real program, the whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer, and each fuzz target for
# FUZZ_SECONDS (default 30).
# Tests start their own X server, PulseAudio, D-Bus and HTTP servers and stop them again.
# KREL_QUICK=1 runs the normal build's tests only.
# Every stage runs even when one before it failed (a failing test must not hide whether the rest pass); a summary
# line per stage ends the output, and the script exits non-zero when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=$(nproc)

bash scripts/deps.sh || exit 1

RESULTS=()
FAILED=0
# Runs one stage (a function) and notes how it went.
stage() {
    local name=$1
    shift
    echo "== $name"
    local start=$SECONDS
    # (In a subshell of its own, outside any condition, so that its first failing command ends it.)
    ( set -e; "$@" )
    if [ $? -eq 0 ]; then
        RESULTS+=("passed  $name ($((SECONDS - start)) s)")
    else
        RESULTS+=("FAILED  $name ($((SECONDS - start)) s)")
        FAILED=1
    fi
}
summary() {
    echo "== summary"
    printf '%s\n' "${RESULTS[@]}"
    exit "$FAILED"
}

normal_build_and_tests() {
    rm -rf build
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    # Nothing the build found may come from a package that scripts/deps.sh does not install.
    bash scripts/check_deps.sh build
    cmake --build build -j"$JOBS"
    (cd build && ctest --output-on-failure -j"$JOBS" --timeout 600)
}

short_soak() {
    # A short soak of the real program: web videos, films, the TV and the sound server switched, every remote; its
    # memory, open files and threads must stay flat (scripts/soak.sh 30 is the long run).
    KREL_SOAK_BUILD=build bash scripts/soak.sh 3
}

sanitizer_build_and_tests() {
    rm -rf build-asan
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKREL_SANITIZE=address,undefined \
        -DKREL_BUILD_BENCH=OFF >/dev/null
    cmake --build build-asan -j"$JOBS"
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$ROOT/tests/sanitizers/lsan.supp
    # Programs that host a web view. The normal build ran them on Debian's Chromium (the engine wherever it is installed
    # and the session is X11); here they run on Qt WebEngine, the engine of Wayland sessions and of machines without
    # chromium, so that both engines keep their tests (test_chromium asks for Chromium itself; the streaming pages,
    # some of which Qt WebEngine cannot play, are left out there).
    # Qt WebEngine's Chromium code frees with a different sized delete than it allocated
    # with, and keeps allocations of plugins it unloads; neither is ours, so those two checks are off for them only.
    WEB_TESTS='test_app|test_tvwindow|test_e2e|test_webplayers|test_install|test_hotplug|test_phone|test_chromium|test_desktop'
    # (The desktops' walk, a test of window managers and compositors with the real program, runs in the normal build only.)
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$JOBS" --timeout 600 -E "$WEB_TESTS|Desktops\.")
    # They run one at a time, with no retry. Two of them side by side on two cores were once seen to hang at start-up,
    # when every test program made its OpenGL context at start; that was never reproduced (eight later runs side by
    # side, three of them with the cores overloaded), so its cause is unknown. A hang now fails the run after 4 minutes.
    (cd build-asan && KREL_WEB_ENGINE=qtwebengine ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0 \
        ctest --output-on-failure -j1 --timeout 240 -R "$WEB_TESTS")
}

fuzzing() {
    bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
}

stage "build and tests" normal_build_and_tests
[ "${KREL_QUICK:-0}" = 1 ] && summary
stage "short soak" short_soak
stage "tests under AddressSanitizer + UndefinedBehaviorSanitizer" sanitizer_build_and_tests
stage "fuzzing" fuzzing
summary
