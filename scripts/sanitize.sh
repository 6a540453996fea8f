#!/usr/bin/env bash
# Builds the GUI-free layers and their tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs their suites: serial, protocol, firmware,
# jobs and the command line against simulated receivers.
set -euo pipefail
cd "$(dirname "$0")/.."

export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1

if [ ! -f build-asan/build.ninja ]; then
    flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -O1 -g"
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_GUI=OFF -DKORVA_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
fi
cmake --build build-asan -j2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure -j2
