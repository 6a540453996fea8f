"""Paired receivers through BlueZ (the stand-in on a private system bus): a
firmware update over the Bluetooth socket against the simulated receiver's wire
bound and against the same update over a pty, and `korva ports` with BlueZ
present. Prints ROW lines.

    /usr/bin/python3 tests/bluez/bench_bluez.py build/bin/korva build/tools/simulator/korva-sim IMAGEBUILDER
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


def update(args, env, log_path):
    os.environ.update(env)
    result, wall, cpu = timed(["update", *args, "--json"])
    doc = json.loads(result.stdout.splitlines()[-1])
    ratio = doc["transferSeconds"] / (wire_bytes(log_path) * 10.0 / BAUD)
    return result.returncode == 0 and doc["ok"], wall, cpu, ratio


def main():
    tmp = tempfile.mkdtemp(prefix="korva-bench-bluez-")
    bluez = BluezStandIn(tmp)
    try:
        image = os.path.join(tmp, "image.bin")
        subprocess.run([MKIMAGE, "-o", image, "--model", "RULKO", "--mcu-size", "150000",
                        "--dsp-header-size", "1000", "--dsp-size", "100000", "--config-size", "5000"],
                       check=True, capture_output=True)

        sims = [start_sim(tmp, "pty", "--type", "f0", "--wire-speed")]
        ok_pty, wall_pty, cpu_pty, ratio_pty = update([sims[0][0], image], bluez.env(), sims[0][0] + ".log")
        stop(sims)

        bluez.add_adapter()
        bluez.add_receiver(ADDRESS, "Rulko kitchen", sim_args=["--type", "f0", "--wire-speed"])
        bluez.add_receiver("00:11:22:AA:BB:02", "Rulko hall", "off")
        bluez.add_headphones("00:11:22:AA:BB:03", "Headphones")
        sim_log = os.path.join(tmp, "sim-" + ADDRESS.replace(":", "") + ".log")
        ok_bt, wall_bt, cpu_bt, ratio_bt = update(["bt:" + ADDRESS, image], bluez.env(), sim_log)

        print(f"update over a pty        {'ok' if ok_pty else 'FAILED'}, {wall_pty:.2f} s wall, {cpu_pty:.3f} s CPU, "
              f"transfer/wire bound {ratio_pty:.3f}")
        print(f"update over Bluetooth    {'ok' if ok_bt else 'FAILED'}, {wall_bt:.2f} s wall, {cpu_bt:.3f} s CPU, "
              f"transfer/wire bound {ratio_bt:.3f}")
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
