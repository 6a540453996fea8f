"""How korva scales with the receivers it drives at once: one korva process
updates 1, 4 and 8 simulated receivers (paced at 921600 baud) with a ~256 kB
image, and scans 16 ports of which half are silent. Prints ROW lines.

    python3 tests/cli/bench_links.py build/bin/korva build/tools/simulator/korva-sim IMAGEBUILDER
    KORVA_BENCH_LINKS="1 16 32" ...     # other receiver counts (the first is the CPU reference)
"""

import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

KORVA, SIM, MKIMAGE = sys.argv[1:4]
BAUD = 921600.0


def start_sim(tmp, name, *args):
    link = os.path.join(tmp, name)
    log = open(link + ".log", "w")
    proc = subprocess.Popen([SIM, "--link", link, *args], stdout=log, stderr=subprocess.STDOUT)
    while not os.path.exists(link):
        time.sleep(0.01)
    return link, proc, log


def stop(sims):
    for _, proc, log in sims:
        proc.send_signal(signal.SIGINT)
        proc.wait(timeout=10)
        log.close()


def wire_bytes(log_path, start=0):
    """Bytes that crossed the line during the update, both ways, from the receiver's
    log (from byte start on: a receiver that stays up logs one update after another)."""
    total, counting = 0, False
    with open(log_path) as f:
        f.seek(start)
        for line in f:
            if not line.startswith(("< ", "> ")):
                continue
            hexpart = line.split(": ", 1)[1].strip()
            if line.startswith("< ") and hexpart[6:10] == "4900":   # UpdateBegin
                counting = True
            if counting:
                total += len(hexpart) // 2
            if hexpart.startswith("aa00024907"):       # UpdateClose; its acknowledgement is not waited for
                break
    return total


def timed(args):
    """Runs korva; wall time and its CPU time (user + system)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run([KORVA, *args], capture_output=True, text=True, timeout=600)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return result, wall, cpu


def main():
    tmp = tempfile.mkdtemp(prefix="korva-bench-links-")
    try:
        image = os.path.join(tmp, "image.bin")
        subprocess.run([MKIMAGE, "-o", image, "--model", "RULKO", "--mcu-size", "150000",
                        "--dsp-header-size", "1000", "--dsp-size", "100000", "--config-size", "5000"],
                       check=True, capture_output=True)
        print(f"image            {os.path.getsize(image)} bytes")

        cpu_alone = None
        counts = [int(n) for n in os.environ.get("KORVA_BENCH_LINKS", "1 4 8").split()]
        for count in counts:
            sims = [start_sim(tmp, f"u{count}-{i}", "--type", "f0", "--wire-speed") for i in range(count)]
            result, wall, cpu = timed(["update", *(s[0] for s in sims), image, "--json"])
            stop(sims)
            doc = json.loads(result.stdout.splitlines()[-1])
            results = doc.get("results", [doc])
            ok = result.returncode == 0 and all(r["ok"] for r in results)
            ratios = [r["transferSeconds"] / (wire_bytes(s[0] + ".log") * 10.0 / BAUD) for r, s in zip(results, sims)]
            per_receiver = cpu / count
            if cpu_alone is None:
                cpu_alone = per_receiver
            print(f"{count} receiver(s)    {'ok' if ok else 'FAILED'}, korva {wall:.2f} s wall, {cpu:.3f} s CPU, "
                  f"transfer/wire bound {min(ratios):.3f}..{max(ratios):.3f}")
            print(f"ROW update x{count} slowest / wire bound  {max(ratios):8.3f}          target <= 1.10     "
                  f"ratio {max(ratios) / 1.10:.2f}")
            print(f"ROW update x{count} korva CPU per receiver {per_receiver:8.3f} s        target <= {cpu_alone:.3f} s  "
                  f"ratio {per_receiver / cpu_alone:.2f}")

        # One silent port's detection at both families' rates, then a scan of 16.
        silent = [start_sim(tmp, "alone", "--type", "f0", "--silent")]
        _, alone, _ = timed(["detect", silent[0][0]])
        stop(silent)
        kinds = ["f0", "f1", "f2"]
        sims = [start_sim(tmp, f"s{i}", "--type", kinds[i % 3]) for i in range(8)]
        sims += [start_sim(tmp, f"q{i}", "--type", "f0", "--silent") for i in range(8)]
        result, scan, _ = timed(["scan", *(s[0] for s in sims), "--json"])
        stop(sims)
        found = sum(1 for e in json.loads(result.stdout)["ports"] if e["state"] == "receiver")
        print(f"scan of 16       {found} receivers found, {scan:.2f} s; one silent port's detection {alone:.2f} s")
        print(f"ROW scan 16 ports / one silent detection {scan / alone:8.3f}          target <= 1.50     "
              f"ratio {scan / alone / 1.5:.2f}")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
