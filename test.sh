#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
# unit and pty tests, GUI and end-to-end tests under a private Xvfb, bounded
# fuzzing under sanitizers, the worker hand-over under ThreadSanitizer, the
# Windows build's tests under Wine, and the Windows application (.exe) end to
# end under Wine against the simulated receiver.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/build.sh

status=0
scripts/with-display.sh ctest --test-dir build --output-on-failure -j2 || status=1
scripts/fuzz.sh || status=1
scripts/tsan.sh || status=1
scripts/sanitize.sh || status=1
scripts/wine-tests.sh || status=1
scripts/wine-cli-tests.sh || status=1
scripts/wine-app-tests.sh || status=1
scripts/package.sh || status=1

if [ $status -ne 0 ]; then
    echo "SOME TESTS FAILED" >&2
else
    echo "ALL TESTS PASSED"
fi
exit $status
