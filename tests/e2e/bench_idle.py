"""What an idle window costs: starts the real application under the test
display with no port and no job, lets it settle, then measures for 30 s (or
KORVA_IDLE_SECONDS), with the pointer away from the window, the CPU time and the voluntary context switches (wake-ups)
of each of its threads, from /proc. Prints the whole process's figures next to
their targets. Given a second executable (a bare window of JUCE as Debian ships
it, without the idle patches in cmake/juce/linux), measures it the same way at
the same time, so what the patches save shows.

    scripts/with-display.sh python3 tests/e2e/bench_idle.py build/bin/korva-bluetooth-manager \
        build/tests/gui/bench_bare_window
"""

import subprocess

import os
import sys
import time

import desktop

TARGET_CPU_SHARE = 0.3       # per cent of one core
TARGET_WAKEUPS = 20.0        # per second, all threads together


def threads(pid):
    """{thread name: (voluntary context switches, CPU time in ns)} of every thread of pid."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        base = f"/proc/{pid}/task/{tid}"
        try:
            with open(base + "/comm") as f:
                name = f.read().strip()
            with open(base + "/status") as f:
                switches = next(int(line.split()[1]) for line in f if line.startswith("voluntary_ctxt_switches"))
            with open(base + "/schedstat") as f:
                cpu_ns = int(f.read().split()[0])   # time on a CPU, in ns
        except (OSError, StopIteration):
            continue
        key = f"{name} [{tid}]"
        out[key] = (switches, cpu_ns)
    return out


def measure(pids, seconds):
    """Per-thread figures of each of pids over the same interval."""
    # Idle: nobody at the windows, the pointer elsewhere on the screen.
    desktop.run("xdotool", "mousemove", "0", "0")
    time.sleep(3.0)   # past start-up, the first port refresh and the first paints
    before = [threads(pid) for pid in pids]
    t0 = time.monotonic()
    time.sleep(seconds)
    after = [threads(pid) for pid in pids]
    return before, after, time.monotonic() - t0


def report(title, before, after, elapsed):
    total_wakeups = 0.0
    total_cpu = 0.0
    print(f"{title}, {elapsed:.0f} s")
    print(f"{'thread':<28} {'wake-ups/s':>10} {'CPU %':>7}")
    for name, (switches, cpu_ns) in sorted(after.items()):
        s0, ns0 = before.get(name, (0, 0))
        rate = (switches - s0) / elapsed
        cpu = 100.0 * (cpu_ns - ns0) * 1e-9 / elapsed
        total_wakeups += rate
        total_cpu += cpu
        print(f"{name:<28} {rate:>10.1f} {cpu:>7.2f}")
    print(f"{'all threads':<28} {total_wakeups:>10.1f} {total_cpu:>7.2f}")
    return total_wakeups, total_cpu


def main():
    app = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.environ.get("KORVA_APP", "build/bin/korva-bluetooth-manager"))
    bare = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    seconds = float(os.environ.get("KORVA_IDLE_SECONDS", "30"))

    # Both windows run side by side and are measured over the same seconds, so
    # whatever else the machine does weighs on both alike.
    session = desktop.Session(app)
    proc = subprocess.Popen([bare]) if bare is not None else None
    try:
        pids = [session.app.pid] + ([proc.pid] if proc is not None else [])
        before, after, elapsed = measure(pids, seconds)
    finally:
        session.close()
        if proc is not None:
            proc.kill()
            proc.wait()
    total_wakeups, total_cpu = report("idle window, no port, no job", before[0], after[0], elapsed)
    print(f"ROW idle CPU share           {total_cpu:8.2f} %      target <= {TARGET_CPU_SHARE} %   "
          f"ratio {total_cpu / TARGET_CPU_SHARE:.2f}")
    print(f"ROW idle wake-ups            {total_wakeups:8.1f} /s     target <= {TARGET_WAKEUPS:.0f} /s   "
          f"ratio {total_wakeups / TARGET_WAKEUPS:.2f}")
    if proc is None:
        return

    print()
    bare_wakeups, bare_cpu = report("bare window of unpatched JUCE 7.0.5, same size, at the same time",
                                    before[1], after[1], elapsed)

    # Unpatched, JUCE's Linux window peer runs its vertical-blank timer at the
    # display's rate (100 Hz where the display reports none, as Xvfb does) and
    # the tooltip and pointer timers run whatever the pointer does.
    print()
    print(f"ROW idle wake-ups, unpatched bare JUCE window {bare_wakeups:8.1f} /s   "
          f"the application {total_wakeups:.1f} /s, {total_wakeups / bare_wakeups if bare_wakeups else 0:.2f} of it")
    print(f"ROW idle CPU share, unpatched bare JUCE window {bare_cpu:7.2f} %    "
          f"the application {total_cpu:.2f} %, {total_cpu / bare_cpu if bare_cpu else 0:.2f} of it")


if __name__ == "__main__":
    main()
