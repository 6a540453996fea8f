#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${KORVA_FUZZ_SECONDS:-20}"
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1

if [ ! -f build-fuzz/build.ninja ]; then
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DKORVA_GUI=OFF -DKORVA_TESTS=OFF -DKORVA_BENCH=OFF -DKORVA_FUZZ=ON >/dev/null
fi
cmake --build build-fuzz -j2

status=0
for fuzzer in build-fuzz/fuzzers/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus="build-fuzz/corpus/$name"
    mkdir -p "$corpus"
    if "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 "$corpus" >"build-fuzz/$name.log" 2>&1; then
        echo "fuzz: $name ok (${seconds}s)"
    else
        echo "fuzz: $name FAILED" >&2
        tail -n 40 "build-fuzz/$name.log" >&2
        status=1
    fi
done
exit $status
