"""A person's session with a simulated receiver in the real window: choose the
port, name the device family, see the receiver and its settings, write a new
name, restore the defaults, re-read and re-detect with F3 and F5, and open the
hidden event log."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import desktop

APP = os.environ["KORVA_APP"]
SIM = os.environ["KORVA_SIM"]
WM_CLOSE = os.environ["KORVA_WM_CLOSE"]


class DeviceJobsTest(unittest.TestCase):
    def start(self, sim_type, name):
        self.session = desktop.Session(APP, SIM, ["--type", sim_type, "--name", name])
        self.app = self.session.app
        self.window = self.session.window
        desktop.wait_focus(self.window)

    def tearDown(self):
        if hasattr(self, "session"):
            self.session.close()

    def height(self):
        return desktop.geometry(self.window)[3]

    def wait_height(self, h, timeout=15.0):
        desktop.wait_for(lambda: self.height() == h, timeout=timeout, what=f"panel height {h}")

    def sim_output(self):
        return self.session.sim_output()

    def reads(self):
        return self.sim_output().count("< Cmd: aa0001d52a")    # the last query of a settings read

    def wait_reads(self, n):
        desktop.wait_for(lambda: self.reads() >= n, timeout=20, what=f"{n} settings reads")
        desktop.wait_painted(self.window)    # the form shows what was read

    def choose_simulated_port(self, family):
        desktop.choose_port(self.window)     # the simulated port, listed last
        desktop.answer_box("Device type", family, shot="device-type-question")

    def press(self, key):
        """A function key, after a click on an empty spot of the panel: the
        window must have the keyboard focus, which a closed box may have taken."""
        desktop.click(self.window, 20, 112)
        desktop.wait_focus(self.window)
        desktop.run("xdotool", "key", key)

    def ten_clicks_on_version(self):
        for _ in range(10):
            desktop.click(self.window, 210, 90)
            time.sleep(0.08)

    def test_rulko_session(self):
        self.start("f0", "Kitchen")

        # The log first, so that every frame of the session shows in it.
        self.ten_clicks_on_version()
        self.wait_height(115 + 150)

        self.choose_simulated_port("right")
        desktop.answer_box("Korva Bluetooth device found", "only", shot="device-found")
        self.wait_height(437 + 150)
        self.wait_reads(1)
        desktop.screenshot("form-filled-with-log", self.window)

        # A new name, written with F2.
        # (Clicks and keys reach the window in the order they are sent.)
        desktop.click(self.window, 210, 135)
        desktop.run("xdotool", "key", "ctrl+a")
        desktop.type_text("Porch")
        desktop.run("xdotool", "key", "Return")
        self.press("F2")
        desktop.answer_box("Device configuration", "only", shot="write-done")
        desktop.wait_for(lambda: "35000005" + "Porch".encode().hex() in self.sim_output(),
                         what="name written to the receiver")

        # Restore the defaults: the settings are read again afterwards.
        desktop.click(self.window, 100, 348)
        desktop.answer_box("Device configuration", "only", timeout=30)
        self.wait_reads(2)
        desktop.screenshot("after-restore", self.window)

        # F3 re-reads without a box; F5 detects again, then reads.
        self.press("F3")
        self.wait_reads(3)
        self.press("F5")
        desktop.answer_box("Korva Bluetooth device found", "only")
        self.wait_reads(4)
        desktop.screenshot("after-f5", self.window)

        # Hiding the log shrinks the window again.
        self.ten_clicks_on_version()
        self.wait_height(437)

        subprocess.run([WM_CLOSE, str(self.window)], check=True)
        self.assertEqual(self.app.wait(timeout=15), 0)

    def test_hci_receiver_at_the_slow_rate(self):
        self.start("f1", "Van")
        self.choose_simulated_port("left")
        desktop.answer_box("Korva Bluetooth device found", "only")
        self.wait_height(237)
        desktop.wait_for(lambda: "< Cmd: 0129fc0300b501" in self.sim_output(), what="the PIN switch read")
        desktop.wait_painted(self.window)
        desktop.screenshot("hci-form", self.window)

    def test_the_family_found_on_a_port_answers_on_return_after_a_restart(self):
        # Each family in turn: the one Return picks anyway when nothing is
        # remembered (the first button) and the other one.
        families = [("f1", "Van", "left", "zvarnelo", 237),
                    ("f0", "Kitchen", "right", "rulko", 437)]
        for sim_type, name, button, remembered, form_height in families:
            with self.subTest(family=remembered):
                home = tempfile.mkdtemp(prefix="korva-e2e-home-")
                settings = os.path.join(home, ".config", "korva-bluetooth-manager", "ports.settings")
                os.makedirs(os.path.dirname(settings))
                with open(settings, "w") as f:
                    f.write("<PROPERTIES><VALUE name=")     # corrupt: ignored, then written afresh
                try:
                    for run in range(2):
                        self.session = desktop.Session(APP, SIM, ["--type", sim_type, "--name", name], home=home)
                        self.window = self.session.window
                        desktop.choose_port(self.window)
                        if run == 0:
                            desktop.answer_box("Device type", button)      # named by the user
                        else:
                            # After a restart: Return on the keyboard, as a person
                            # presses it, answers with the family found here last time.
                            desktop.key_to_box("Device type", "Return", shot=f"device-type-remembered-{remembered}")
                        desktop.answer_box("Korva Bluetooth device found", "only")
                        self.wait_height(form_height)
                        self.session.close()
                    with open(settings) as f:
                        self.assertIn('name="family ' + os.path.join(home, "sim-port") + f'" val="{remembered}"',
                                      f.read())
                finally:
                    self.session.close()
                    shutil.rmtree(home, ignore_errors=True)

    def test_wrong_family_finds_nothing(self):
        self.start("f0", "Kitchen")
        self.choose_simulated_port("left")      # 115200 baud: the receiver stays silent
        desktop.answer_box("Failed", "only", timeout=20, shot="wrong-family")
        self.wait_height(115)

    def test_closing_the_window_during_a_stuck_job_exits_cleanly(self):
        self.start("f0", "Kitchen")
        # The receiver stops reading its line: the job's answers never come.
        os.kill(self.session.sim.pid, signal.SIGSTOP)
        try:
            self.choose_simulated_port("right")
            desktop.wait_for(lambda: desktop.holds_open(self.app.pid, self.session.link),
                             what="the detect waiting on the port")
            subprocess.run([WM_CLOSE, str(self.window)], check=True)
            self.assertEqual(self.app.wait(timeout=10), 0)
        finally:
            os.kill(self.session.sim.pid, signal.SIGCONT)

    def test_choosing_another_port_while_the_log_is_open_detects_it_first(self):
        self.session = desktop.Session(APP, SIM, ["--type", "f0", "--name", "Alpha"],
                                       second_sim_args=["--type", "f2", "--name", "Beta"])
        self.app = self.session.app
        self.window = self.session.window
        desktop.wait_focus(self.window)

        # The second receiver, listed last, then the log with its listen job.
        self.choose_simulated_port("right")
        desktop.answer_box("Korva Bluetooth device found", "only")
        desktop.wait_for(lambda: self.session.sim_output(second=True).count("< Cmd: aa0001d52a") >= 1,
                         timeout=20, what="the second receiver read")
        desktop.wait_painted(self.window)
        self.ten_clicks_on_version()
        beta_commands = desktop.wait_steady(lambda: self.session.sim_output(second=True).count("< Cmd: "),
                                            what="the listen job started")

        # The first receiver: the port change stops the listen and detects it.
        desktop.choose_port(self.window)
        desktop.answer_box("Device type", "right")
        desktop.answer_box("Korva Bluetooth device found", "only", shot="port-change-with-log")
        desktop.wait_for(lambda: self.sim_output().count("< Cmd: aa0001d52a") >= 1, timeout=20,
                         what="the first receiver read")
        self.assertIn("< Cmd: aa0002d0002e", self.sim_output(), "the first receiver was asked its type")
        self.assertEqual(self.session.sim_output(second=True).count("< Cmd: "), beta_commands,
                         "nothing more went to the receiver that is no longer chosen")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
