#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest. Tests that need D-Bus start
# their own private session bus (dbus-run-session); widget tests run offscreen.
#   scripts/test.sh [CTEST_OPTION...]              the normal build in build/
#   scripts/test.sh --sanitize [CTEST_OPTION...]   the same suite built with AddressSanitizer and
#                                                  UndefinedBehaviorSanitizer in build-sanitize/
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--sanitize" ]; then
    shift
    "$here/scripts/setup.sh" "$here/build-sanitize" -DQF_SANITIZE=ON -DQF_BUILD_BENCH=OFF
    cd "$here/build-sanitize"
    # Every finding ends the test; leaks inside Debian's libraries are listed with their reasons.
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$here/tests/sanitizers/lsan.supp:print_suppressions=0"
    if ctest --output-on-failure --timeout 1800 -j2 "$@"; then
        exit 0
    fi
    # LeakSanitizer's own stop-the-world tracer sometimes crashes at exit ("Tracer caught signal 11")
    # after every test of the program passed: that is not a finding. Only then are the failed programs
    # run once more; a leak, an error or a failed test fails again.
    if grep -q "Tracer caught signal" Testing/Temporary/LastTest.log 2>/dev/null; then
        echo "LeakSanitizer's tracer crashed while checking for leaks; running the failed tests once more."
        ctest --output-on-failure --timeout 1800 --rerun-failed "$@"
        exit
    fi
    exit 1
fi
"$here/scripts/setup.sh" "$here/build"
cd "$here/build"
ctest --output-on-failure --timeout 900 -j2 "$@"
