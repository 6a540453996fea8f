"""Paired receivers through BlueZ (the stand-in on a private system bus): a
firmware update over the Bluetooth socket against the simulated receiver's wire
bound and against the same update over a pty (same image, same simulator
options), and `korva ports` with BlueZ present. The updates alternate between
the two links, and each figure is the median of its runs: one korva run's CPU
varies by a third from run to run. Prints ROW lines.

    /usr/bin/python3 tests/bluez/bench_bluez.py build/bin/korva build/tools/simulator/korva-sim IMAGEBUILDER
    KORVA_BENCH_RUNS=3 ...     # updates per link (7 unless told)
"""

import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "cli"))
os.environ["KORVA_SIM"] = os.path.abspath(sys.argv[2])

from bench_links import BAUD, KORVA, MKIMAGE, start_sim, stop, timed, wire_bytes  # noqa: E402
from bluez_fixture import BluezStandIn  # noqa: E402

ADDRESS = "00:11:22:AA:BB:01"


SIM_ARGS = ["--type", "f0", "--wire-speed"]


def update(args, env, log_path, log_start=0):
    os.environ.update(env)
    result, wall, cpu = timed(["update", *args, "--json"])
    doc = json.loads(result.stdout.splitlines()[-1])
    ratio = doc["transferSeconds"] / (wire_bytes(log_path, log_start) * 10.0 / BAUD)
    return result.returncode == 0 and doc["ok"], wall, cpu, ratio


def summary(runs):
    """ok, and the medians of wall, CPU and transfer/wire bound; the CPU's range."""
    ok = all(r[0] for r in runs)
    wall, cpu, ratio = (statistics.median(r[i] for r in runs) for i in (1, 2, 3))
    return ok, wall, cpu, ratio, min(r[2] for r in runs), max(r[2] for r in runs)


def main():
    tmp = tempfile.mkdtemp(prefix="korva-bench-bluez-")
    bluez = BluezStandIn(tmp)
    try:
        image = os.path.join(tmp, "image.bin")
        subprocess.run([MKIMAGE, "-o", image, "--model", "RULKO", "--mcu-size", "150000",
                        "--dsp-header-size", "1000", "--dsp-size", "100000", "--config-size", "5000"],
                       check=True, capture_output=True)

        bluez.add_adapter()
        bluez.add_receiver(ADDRESS, "Rulko kitchen", sim_args=SIM_ARGS)
        bluez.add_receiver("00:11:22:AA:BB:02", "Rulko hall", "off")
        bluez.add_headphones("00:11:22:AA:BB:03", "Headphones")
        # The receiver behind BlueZ keeps running between connections and its log grows.
        sim_log = os.path.join(tmp, "sim-" + ADDRESS.replace(":", "") + ".log")

        pty_runs, bt_runs = [], []
        for _ in range(int(os.environ.get("KORVA_BENCH_RUNS", "7"))):
            sims = [start_sim(tmp, "pty", *SIM_ARGS)]
            pty_runs.append(update([sims[0][0], image], bluez.env(), sims[0][0] + ".log"))
            stop(sims)
            bt_runs.append(update(["bt:" + ADDRESS, image], bluez.env(), sim_log, os.path.getsize(sim_log)))

        ok_pty, wall_pty, cpu_pty, ratio_pty, low_pty, high_pty = summary(pty_runs)
        ok_bt, wall_bt, cpu_bt, ratio_bt, low_bt, high_bt = summary(bt_runs)
        for name, ok, wall, cpu, ratio, low, high, runs in (
                ("a pty", ok_pty, wall_pty, cpu_pty, ratio_pty, low_pty, high_pty, pty_runs),
                ("Bluetooth", ok_bt, wall_bt, cpu_bt, ratio_bt, low_bt, high_bt, bt_runs)):
            print(f"update over {name:12s} {'ok' if ok else 'FAILED'}, medians of {len(runs)}: {wall:.2f} s wall, "
                  f"{cpu:.3f} s CPU ({low:.3f}..{high:.3f}), transfer/wire bound {ratio:.3f}")
        print(f"ROW update over Bluetooth / wire bound  {ratio_bt:8.3f}          target <= 1.05     ratio {ratio_bt / 1.05:.2f}")
        print(f"ROW update over Bluetooth korva CPU     {cpu_bt:8.3f} s        target <= {cpu_pty:.3f} s  "
              f"ratio {cpu_bt / cpu_pty:.2f}")

        times = []
        for _ in range(15):
            start = time.monotonic()
            result = subprocess.run([KORVA, "ports", "--json"], capture_output=True, text=True, env=bluez.env())
            times.append((time.monotonic() - start) * 1000)
            listed = [p["name"] for p in json.loads(result.stdout)["ports"] if p["name"].startswith("bt:")]
        median = statistics.median(times)
        print(f"korva ports with BlueZ   {len(listed)} Bluetooth ports, median {median:.1f} ms of {len(times)} runs")
        print(f"ROW korva ports with BlueZ              {median:8.1f} ms       target <= 50 ms    ratio {median / 50:.2f}")
    finally:
        bluez.close()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
