#!/usr/bin/env bash
# Installs what is missing, builds, and opens the application. By default a
# simulated receiver runs on a pseudo-terminal and is listed as a port, and a
# sample firmware image is written to build/samples/.
#   ./run.sh [--type f0|f1|f2] [--no-sim]
set -euo pipefail
cd "$(dirname "$0")"

type=f0
sim=1
while [ $# -gt 0 ]; do
    case "$1" in
        --type) type="$2"; shift 2 ;;
        --no-sim) sim=0; shift ;;
        *) echo "usage: ./run.sh [--type f0|f1|f2] [--no-sim]" >&2; exit 2 ;;
    esac
done

scripts/install-deps.sh
scripts/build.sh

if [ $sim -eq 0 ]; then
    exec build/bin/korva-bluetooth-manager
fi

link="${XDG_RUNTIME_DIR:-/tmp}/korva-sim-$type"
mkdir -p build/samples
build/tools/imagebuilder/korva-mkimage --model RULKO -o build/samples/rulko-sample.bin >/dev/null
build/tools/imagebuilder/korva-mkimage --model DORU-415QX -o build/samples/doru-sample.bin >/dev/null

build/tools/simulator/korva-sim --type "$type" --link "$link" > build/korva-sim.log 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT

for _ in $(seq 1 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "Simulated receiver (type $type) on $link; its log: build/korva-sim.log"
echo "Sample firmware images: build/samples/"

cd build/samples
KORVA_EXTRA_PORTS="$link${KORVA_EXTRA_PORTS:+:$KORVA_EXTRA_PORTS}" ../bin/korva-bluetooth-manager
