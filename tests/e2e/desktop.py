"""Driving the real application in a real X display from outside, as a person
would: find windows, read their geometry, click, type, take screenshots.

With KORVA_WINE=1 the application is the Windows .exe run by Wine (prefix from
WINEPREFIX), and a simulated receiver is reached through a COM port: the
ports available are named in KORVA_WINE_PORTS as "COMn=/path/of/link:...",
each link path already mapped to its COMn in the prefix."""

import os
import re
import subprocess
import tempfile
import time

ARTIFACTS = os.environ.get("KORVA_ARTIFACTS", os.path.join(os.getcwd(), "artifacts"))
WINE = os.environ.get("KORVA_WINE") == "1"


def app_command(app):
    """The command that starts the application (the .exe through Wine in Wine mode)."""
    return ["wine", app] if WINE else [app]


def wine_ports():
    """(name, link path) of the COM ports set aside for simulated receivers."""
    pairs = [entry.split("=", 1) for entry in os.environ.get("KORVA_WINE_PORTS", "").split(":") if entry]
    return [(name, path) for name, path in pairs]


def wine_run(*args, timeout=120):
    """Runs a Windows program to its end under Wine and returns its output. The
    output goes through a file, not a pipe: Wine's own background processes,
    started by the first program, would keep a pipe open long after it ends."""
    with tempfile.TemporaryFile() as out:
        subprocess.run(["wine"] + list(args), stdout=out, stderr=subprocess.STDOUT,
                       stdin=subprocess.DEVNULL, check=True, timeout=timeout)
        out.seek(0)
        return out.read().decode(errors="replace")


def dos_port_order():
    """The COM ports in the order in which the application lists them."""
    return [line for line in wine_run(os.environ["KORVA_DOS_PORTS"]).split() if line.startswith("COM")]


def choose_port(window, name=None):
    """Opens the port list and picks a port: in Wine mode `name`, otherwise the
    last one listed (the simulated port)."""
    if WINE:
        order = dos_port_order()
        assert name in order, f"{name} not among the COM ports {order}"
        # A program just started under Wine may still miss a click: open the
        # list until it shows over the rows below the port box.
        below = grab(window, 110, 50, 200, 50)
        for _ in range(3):
            click(window, 210, 30)
            try:
                wait_for(lambda: grab(window, 110, 50, 200, 50) != below, timeout=5, what="the port list")
                break
            except AssertionError:
                pass
        time.sleep(0.3)
        screenshot("wine-port-list-" + "-".join(order))
        run("xdotool", "key", *(["Down"] * (order.index(name) + 1)), "Return")
        return
    # The list opens a moment after the click (JUCE shows it asynchronously):
    # keys typed before it shows would go to the window behind it.
    menu = open_port_list(window)
    run("xdotool", "key", "Up", "Return")
    wait_gone(menu)


def open_port_list(window):
    """Clicks the port box and returns the port list's window once it shows."""
    pid = window_pid(window)
    click(window, 210, 30)
    return wait_for(lambda: (find_windows("menu", pid) or [None])[0], timeout=15, what="the port list")


def focused_window():
    out = subprocess.run(["xdotool", "getwindowfocus", "-f"], capture_output=True, text=True).stdout.strip()
    return int(out) if out.isdigit() else None


def wait_focus(window, timeout=15.0):
    """Waits until window has the keyboard focus, where typed keys go."""
    wait_for(lambda: focused_window() == window, timeout=timeout, what=f"the keyboard focus on window {window}")


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True).stdout.strip()


def wait_for(predicate, timeout=30.0, interval=0.1, what="condition"):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    raise AssertionError(f"timed out waiting for {what}")


def wait_steady(read, timeout=10.0, interval=0.3, what="a steady value"):
    """Reads until two reads in a row agree, and returns that value."""
    last = [read()]

    def same():
        previous, last[0] = last[0], read()
        return previous == last[0]
    wait_for(same, timeout=timeout, interval=interval, what=what)
    return last[0]


def wait_painted(window, timeout=10.0):
    """Waits until the window's picture stands still: what a job's result or a
    click changed has been drawn, for a screenshot or the next step."""
    _, _, w, h = geometry(window)
    wait_steady(lambda: grab(window, 0, 0, w, h), timeout=timeout, interval=0.15, what=f"window {window} drawn")


def holds_open(pid, path):
    """Whether process pid has path (a link is followed) open."""
    target = os.path.realpath(path)
    fds = f"/proc/{pid}/fd"
    try:
        names = os.listdir(fds)
    except OSError:
        return False
    for fd in names:
        try:
            if os.readlink(os.path.join(fds, fd)) == target:
                return True
        except OSError:
            pass
    return False


def find_windows(title, pid=None):
    """Visible top-level windows whose title is exactly `title`."""
    args = ["xdotool", "search", "--onlyvisible", "--name", "^" + re.escape(title) + "$"]
    out = subprocess.run(args, capture_output=True, text=True).stdout.split()
    windows = [int(w) for w in out]
    if pid is not None:
        windows = [w for w in windows if window_pid(w) == pid]
    return windows


def window_pid(window):
    out = subprocess.run(["xdotool", "getwindowpid", str(window)], capture_output=True, text=True)
    return int(out.stdout) if out.returncode == 0 and out.stdout.strip() else None


def window_title(window):
    return run("xdotool", "getwindowname", str(window))


def geometry(window):
    """(x, y, width, height) of the window's client area, from xwininfo."""
    info = run("xwininfo", "-id", str(window))
    fields = {}
    for line in info.splitlines():
        m = re.match(r"\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s*(-?\d+)", line)
        if m:
            fields[m.group(1)] = int(m.group(2))
    return (fields["Absolute upper-left X"], fields["Absolute upper-left Y"], fields["Width"], fields["Height"])


def click(window, x, y, button=1):
    """Clicks at (x, y) inside the window's client area."""
    wx, wy, _, _ = geometry(window)
    # No --sync: it waits for a motion event, which never comes when the
    # pointer is already there.
    run("xdotool", "mousemove", str(wx + x), str(wy + y))
    time.sleep(0.05)
    run("xdotool", "click", str(button))


def key(window, *keys):
    run("xdotool", "windowfocus", "--sync", str(window), check=False)
    run("xdotool", "key", "--window", str(window), *keys)


def type_text(text):
    run("xdotool", "type", "--delay", "20", text)


def screenshot(name, window="root"):
    os.makedirs(ARTIFACTS, exist_ok=True)
    path = os.path.join(ARTIFACTS, name + ".png")
    run("import", "-window", str(window), path)
    return path


def grab(window, x, y, w, h):
    """The pixels (RGB bytes) of a rectangle of the window's client area as shown."""
    return subprocess.run(["import", "-window", str(window), "-crop", f"{w}x{h}+{x}+{y}", "rgb:-"],
                          check=True, capture_output=True, timeout=30).stdout


def wait_window(title, timeout=30.0):
    """Waits for a window titled `title` and for it to stand still: a window
    is mapped first and may be moved a moment later (a box is centred on the
    window that was active when it opened), and a click aimed before that
    misses it."""
    window = wait_for(lambda: (find_windows(title) or [None])[0], timeout=timeout, what=f"window '{title}'")
    reads = []

    def still():
        reads.append(geometry(window))
        return len(reads) >= 3 and reads[-1] == reads[-2] == reads[-3]
    wait_for(still, timeout=15, interval=0.2, what=f"window '{title}' to stand still")
    return window


def wait_main_window_placed(window, timeout=15.0):
    """Waits until the main window stands where the application puts it,
    centred on the screen, its title bar included (under Wine, until it
    stands still)."""
    if WINE:
        wait_steady(lambda: geometry(window), interval=0.15, what="the main window in place")
        return
    info = run("xwininfo", "-root")
    sw, sh = (int(re.search(rf"{name}:\s*(\d+)", info).group(1)) for name in ("Width", "Height"))

    seen = []

    def centred():
        x, y, w, h = seen[:] = geometry(window)
        return abs(2 * x + w - sw) <= 4 and abs(2 * y + h - sh) <= 48
    try:
        wait_for(centred, timeout=timeout, what="the main window centred on the screen")
    except AssertionError:
        # Now and then, on a loaded machine, the window manager still puts the
        # window in the corner (a known fault, not what these tests are about):
        # said, and the test goes on with the window where it stands.
        wait_steady(lambda: geometry(window), interval=0.15, what="the main window in place")
        print(f"NOTE: the main window stands at {seen} on a {sw}x{sh} screen, not centred", flush=True)
        print(run("xprop", "-id", str(window), "WM_NORMAL_HINTS", "_NET_FRAME_EXTENTS", "_NET_WM_STATE"), flush=True)


def wait_gone(window, timeout=15.0):
    def gone():
        out = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True)
        return out.returncode != 0 or "IsViewable" not in out.stdout
    wait_for(gone, timeout=timeout, what=f"window {window} to close")


def answer_box(title, button="right", timeout=30.0, shot=None):
    """Waits for an alert box titled `title` and clicks one of its buttons:
    'only' (a one-button box), 'left' or 'right' (two buttons)."""
    box = wait_window(title, timeout)
    if not WINE:
        wait_focus(box)     # a box is ready for the user once it has the focus
    if shot:
        screenshot(shot)
    _, _, w, h = geometry(box)
    x = {"only": w // 2, "left": 100, "right": w - 103}[button]
    click(box, x, h - 28)
    try:
        wait_gone(box)
    except AssertionError:
        screenshot("unanswered-" + re.sub(r"\W+", "-", title))
        raise AssertionError(f"the box '{title}' at {geometry(box)} stayed open after a click at ({x}, {h - 28}) "
                             f"in it; the focus is on {focused_window()}")
    return box


def key_to_box(title, key, timeout=30.0, shot=None):
    """Waits for a box titled `title` to have the keyboard focus and presses
    `key` as a person does, on the keyboard (to whichever window has the focus)."""
    box = wait_window(title, timeout)
    wait_focus(box)
    if shot:
        screenshot(shot)
    run("xdotool", "key", key)
    wait_gone(box)
    return box


TITLE = "Korva Bluetooth Manager 1.03 (F5 refresh)"


class Session:
    """The application, optionally with a simulated receiver whose port it
    lists, each in a private temporary home; ended with close()."""

    def __init__(self, app, sim=None, sim_args=(), cwd=None, second_sim_args=None, home=None):
        # home: a home kept from an earlier session (its settings, its port's name).
        self.tmp = home or tempfile.mkdtemp(prefix="korva-e2e-")
        self.app = None
        self.sim = None
        self.sim2 = None
        ports = ""
        com_links = wine_ports() if WINE else []
        if sim is not None:
            self.link = os.path.join(self.tmp, "sim-port")
            if WINE:
                self.port_name, self.link = com_links[0]
            self.sim_log = open(os.path.join(self.tmp, "sim.log"), "w+")
            self.sim = subprocess.Popen([sim, "--link", self.link] + list(sim_args),
                                        stdout=self.sim_log, stderr=subprocess.STDOUT)
            wait_for(lambda: os.path.exists(self.link), what="simulator pty")
            ports = self.link
        if sim is not None and second_sim_args is not None:
            # A second receiver, listed after the first.
            self.link2 = os.path.join(self.tmp, "sim-port2")
            if WINE:
                self.port_name2, self.link2 = com_links[1]
            self.sim2_log = open(os.path.join(self.tmp, "sim2.log"), "w+")
            self.sim2 = subprocess.Popen([sim, "--link", self.link2] + list(second_sim_args),
                                         stdout=self.sim2_log, stderr=subprocess.STDOUT)
            wait_for(lambda: os.path.exists(self.link2), what="second simulator pty")
            ports += ":" + self.link2
        # A private home also keeps the single-instance lock away from other runs.
        self.env = dict(os.environ, HOME=self.tmp, KORVA_EXTRA_PORTS=ports)
        self.app = subprocess.Popen(app_command(app), env=self.env, cwd=cwd or self.tmp)
        try:
            self.window = wait_for(lambda: (find_windows(TITLE, self.app.pid) or [None])[0], what="main window")
            wait_main_window_placed(self.window)
        except AssertionError:
            # No test owns the session yet: leave nothing running for the next one.
            self.close()
            raise

    def sim_output(self, second=False):
        log = self.sim2_log if second else self.sim_log
        log.flush()
        with open(log.name) as f:
            return f.read()

    def unplug(self):
        """Ends the simulator at once, as a pulled adapter: its pty hangs up and vanishes."""
        self.sim.kill()
        self.sim.wait()

    def close(self):
        for p in (self.app, self.sim, self.sim2):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        if WINE:
            # The fixed COM links must not outlive their simulator.
            for link in (getattr(self, "link", None), getattr(self, "link2", None)):
                if link is not None and os.path.islink(link):
                    os.unlink(link)
        if self.sim is not None:
            self.sim_log.close()
        if self.sim2 is not None:
            self.sim2_log.close()
