"""The application's window as a user sees it: title, size, single instance,
and closing it."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

import desktop

APP = os.environ["KORVA_APP"]
WM_CLOSE = os.environ["KORVA_WM_CLOSE"]
TITLE = "Korva Bluetooth Manager 1.03 (F5 refresh)"


class AppWindowTest(unittest.TestCase):
    def setUp(self):
        # A private home keeps the single-instance lock away from other runs.
        self.home = tempfile.mkdtemp(prefix="korva-home-")
        self.env = dict(os.environ, HOME=self.home, KORVA_EXTRA_PORTS="")
        self.app = subprocess.Popen([APP], env=self.env)

    def tearDown(self):
        if self.app.poll() is None:
            self.app.kill()
            self.app.wait()

    def test_window_single_instance_and_close(self):
        window = desktop.wait_for(lambda: (desktop.find_windows(TITLE, self.app.pid) or [None])[0],
                                  what="main window")
        self.assertEqual(desktop.window_title(window), TITLE)

        desktop.wait_for(lambda: desktop.geometry(window)[2:] == (325, 115), timeout=5, what="325x115 client area")
        time.sleep(0.3)
        desktop.screenshot("app-window-start", window)

        second = subprocess.run([APP], env=self.env, timeout=30)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(len(desktop.find_windows(TITLE)), 1, "a second start must not open a window")
        self.assertIsNone(self.app.poll(), "the first instance keeps running")

        subprocess.run([WM_CLOSE, str(window)], check=True)
        self.assertEqual(self.app.wait(timeout=15), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
