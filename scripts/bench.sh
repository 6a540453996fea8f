#!/usr/bin/env bash
# Builds and runs the benchmarks and prints every figure with its target, one
# run. Benchmarks, not tests: they print, they do not fail on a figure.
#   scripts/bench.sh            # idle window measured for 30 s
#   KORVA_IDLE_SECONDS=10 scripts/bench.sh
#   KORVA_BENCH_SECONDS=10 scripts/bench.sh   # a shorter window under the event stream
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh --target bench_transfer bench_detect_to_form bench_enumerate bench_bare_window bench_event_log idle_repaint_test bench_idle_repaint_stock korva-bluetooth-manager korva korva-sim korva-mkimage >/dev/null

log=$(mktemp)
trap 'rm -f "$log"' EXIT
{
    build/tests/serial/bench_enumerate
    build/tests/firmware/bench_transfer
    build/tests/jobs/bench_detect_to_form
    python3 tests/cli/bench_links.py build/bin/korva build/tools/simulator/korva-sim build/tools/imagebuilder/korva-mkimage
    /usr/bin/python3 tests/bluez/bench_bluez.py build/bin/korva build/tools/simulator/korva-sim build/tools/imagebuilder/korva-mkimage
    scripts/with-display.sh build/tests/gui/bench_event_log
    scripts/with-display.sh build/tests/e2e/idle_repaint_test | grep '^ROW'
    scripts/with-display.sh build/tests/e2e/bench_idle_repaint_stock | grep '^ROW'
    scripts/with-display.sh python3 tests/e2e/bench_idle.py build/bin/korva-bluetooth-manager build/tests/gui/bench_bare_window
} 2>&1 | grep -v '^$' | grep -v bootImageAddress | tee "$log"

echo
echo "== figures =="
grep '^ROW ' "$log" | sed 's/^ROW //'
