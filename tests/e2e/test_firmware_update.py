"""Updating a simulated receiver's firmware in the real window: browse for the
image, start the update, follow it, and the refusal and abort paths."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

import desktop

APP = os.environ["KORVA_APP"]
SIM = os.environ["KORVA_SIM"]
MKIMAGE = os.environ["KORVA_MKIMAGE"]


class FirmwareUpdateTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="korva-fw-")
        for name, model, extra in (("rulko.bin", "RULKO", []),
                                   ("doru.bin", "DORU-415QX", []),
                                   ("big.bin", "RULKO", ["--mcu-size", "400000", "--dsp-size", "400000"])):
            subprocess.run([MKIMAGE, "-o", os.path.join(self.tmp, name), "--model", model] + extra,
                           check=True, capture_output=True)

    def start(self, *sim_args):
        # The file chooser opens in the working directory, where the images are.
        self.session = desktop.Session(APP, SIM, ["--type", "f0"] + list(sim_args), cwd=self.tmp)
        self.window = self.session.window
        desktop.choose_port(self.window)
        desktop.answer_box("Device type", "right")
        desktop.answer_box("Korva Bluetooth device found", "only")
        desktop.wait_for(lambda: desktop.geometry(self.window)[3] == 437, what="Rulko form")
        desktop.wait_for(lambda: "< Cmd: aa0001d52a" in self.sim_output(), what="the settings read")
        desktop.wait_painted(self.window)

    def tearDown(self):
        if hasattr(self, "session"):
            self.session.close()

    def browse(self, file_name, shot=None):
        desktop.click(self.window, 45, 411)                      # "Browse"
        chooser = desktop.wait_window("Browse to select firmware")
        time.sleep(0.5)
        if shot:
            desktop.screenshot(shot)
        _, _, w, h = desktop.geometry(chooser)
        desktop.click(chooser, w // 2, h - 63)                  # the "file:" box
        time.sleep(0.2)
        desktop.type_text(file_name)
        desktop.run("xdotool", "key", "Return")
        desktop.wait_gone(chooser)

    def sim_output(self):
        return self.session.sim_output()

    def test_update_refusal_and_success(self):
        self.start()

        # An image for the other model is refused.
        self.browse("doru.bin", shot="firmware-chooser")
        desktop.answer_box("Some error ocurred", "only", shot="firmware-refused")

        # The right one is accepted and sent.
        self.browse("rulko.bin")
        desktop.wait_painted(self.window)
        desktop.screenshot("firmware-accepted", self.window)
        desktop.click(self.window, 45, 411)                      # "Update"
        desktop.answer_box("Device update firmware", "only", timeout=60, shot="firmware-done")
        desktop.answer_box("Korva Bluetooth device found", "only")
        desktop.wait_painted(self.window)
        desktop.screenshot("after-firmware-update", self.window)
        self.assertIn("< Cmd: aa00024907", self.sim_output(), "the transfer ended with UpdateClose")

    def test_closing_the_progress_window_aborts_and_the_file_can_be_sent_again(self):
        self.start("--wire-speed")
        self.browse("big.bin")
        desktop.click(self.window, 45, 411)                      # "Update"
        progress = desktop.wait_window("Updating firmware")
        desktop.wait_for(lambda: self.sim_output().count("< DSPHDR: ") > 20, what="the update under way")
        desktop.screenshot("firmware-progress")
        subprocess.run([os.environ["KORVA_WM_CLOSE"], str(progress)], check=True)
        desktop.answer_box("Abort", "only", timeout=20, shot="firmware-abort")
        desktop.wait_steady(lambda: len(self.sim_output()), what="the line quiet after the abort")
        desktop.wait_painted(self.window)

        # Still "Update": the same file goes again, from its start.
        begins = self.sim_output().count("< Cmd: aa000e4900")
        desktop.click(self.window, 45, 411)
        progress = desktop.wait_window("Updating firmware")
        desktop.wait_for(lambda: self.sim_output().count("< Cmd: aa000e4900") == begins + 1,
                         what="a second UpdateBegin")
        subprocess.run([os.environ["KORVA_WM_CLOSE"], str(progress)], check=True)
        desktop.answer_box("Abort", "only", timeout=20)

    def test_refused_update_close_is_no_success(self):
        self.start("--refuse", "49:01:07")
        self.browse("rulko.bin")
        desktop.click(self.window, 45, 411)                      # "Update"
        desktop.answer_box("Update Firmware", "only", timeout=60, shot="firmware-close-refused")
        self.assertIn("< Cmd: aa00024907", self.sim_output(), "the transfer reached UpdateClose")
        self.assertEqual(desktop.find_windows("Device update firmware"), [])

    def test_unplugging_during_the_update_says_it_was_interrupted(self):
        self.start("--wire-speed")
        self.browse("big.bin")
        desktop.click(self.window, 45, 411)                      # "Update"
        desktop.wait_window("Updating firmware")
        desktop.wait_for(lambda: self.sim_output().count("< DSPHDR: ") > 20, what="the update under way")
        self.session.unplug()
        # The progress window closes and the box tells the update was interrupted.
        desktop.answer_box("Update Firmware", "only", timeout=20, shot="firmware-unplugged")
        self.assertEqual(desktop.find_windows("Device update firmware"), [])
        self.assertEqual(desktop.find_windows("Updating firmware"), [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
