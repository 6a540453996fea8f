#!/usr/bin/env bash
# Configures (once) and builds the native tree in build/. JUCE is compiled once
# into a static library; ccache keeps rebuilds of a fresh clone fast.
set -euo pipefail
cd "$(dirname "$0")/.."

export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1

if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build build -j2 "$@"
