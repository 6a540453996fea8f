#!/usr/bin/env bash
# Builds the GUI tests with ThreadSanitizer and runs the ones in which a real
# worker thread hands its results and log lines to the message thread, and the
# core's tests of several links driven at once, each job on its own thread.
set -euo pipefail
cd "$(dirname "$0")/.."

export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1

if [ ! -f build-tsan/build.ninja ]; then
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="-fsanitize=thread -O1" -DCMAKE_C_FLAGS="-fsanitize=thread -O1" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
fi
cmake --build build-tsan -j2 --target gui_tests links_test

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
scripts/with-display.sh build-tsan/tests/gui/gui_tests --gtest_filter='PanelJobs.*:Outcome.*:PortList.*:EventLogQueue.*'
build-tsan/tests/jobs/links_test
