"""The application's window as a user sees it: title, size, single instance,
and closing it."""

import os
import subprocess
import sys
import time
import unittest

import desktop

APP = os.environ["KORVA_APP"]
WM_CLOSE = os.environ["KORVA_WM_CLOSE"]
TITLE = desktop.TITLE


class AppWindowTest(unittest.TestCase):
    def setUp(self):
        self.session = desktop.Session(APP)
        self.app = self.session.app
        self.env = self.session.env

    def tearDown(self):
        self.session.close()

    def test_window_single_instance_and_close(self):
        window = self.session.window
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
