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
        desktop.wait_painted(window)
        desktop.screenshot("app-window-start", window)

        second = subprocess.run([APP], env=self.env, timeout=30)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(len(desktop.find_windows(TITLE)), 1, "a second start must not open a window")
        self.assertIsNone(self.app.poll(), "the first instance keeps running")

        subprocess.run([WM_CLOSE, str(window)], check=True)
        self.assertEqual(self.app.wait(timeout=15), 0)

    def test_tooltips_follow_the_mouse_in_and_out(self):
        # A help text shows on hovering over a control and goes when the mouse
        # leaves the window. (Where the tip was, a partial repaint may round a
        # few edge pixels apart.)
        window = self.session.window
        # On a loaded machine the window may still be taking its size and place.
        desktop.wait_for(lambda: desktop.geometry(window)[2:] == (325, 115), timeout=10, what="325x115 client area")
        x, y, w, h = desktop.wait_steady(lambda: desktop.geometry(window), what="the window to stay in place")

        def changed_from(reference):
            now = desktop.grab(window, 0, 0, w, h)
            return sum(1 for i in range(0, len(now), 3) if now[i:i + 3] != reference[i:i + 3])

        # JUCE shows tips only while its application is the active one: a click
        # on the panel's bare margin first, as a person would.
        desktop.click(window, 4, 4)
        desktop.run("xdotool", "mousemove", str(x + w + 40), str(y + h + 40))
        time.sleep(0.3)
        plain = desktop.wait_steady(lambda: desktop.grab(window, 0, 0, w, h), timeout=5, interval=0.1,
                                    what="a still window")

        desktop.run("xdotool", "mousemove", str(x + 200), str(y + 28))   # over the port selector
        try:
            desktop.wait_for(lambda: changed_from(plain) > 500, timeout=5, what="the tip to show")
        except AssertionError:
            desktop.screenshot("tooltip-not-shown")
            raise
        desktop.screenshot("tooltip-port-selector", window)

        desktop.run("xdotool", "mousemove", str(x + w + 40), str(y + h + 40))
        desktop.wait_for(lambda: changed_from(plain) < 50, timeout=5, what="the tip to go")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
