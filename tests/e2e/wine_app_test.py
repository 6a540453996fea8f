"""The Windows application (.exe) under Wine, driven from outside as a person
would, against the native simulated receiver on a COM port: the window, a
second start, detection and the settings form, writing and reading back,
restoring the defaults, F5, the firmware update through Wine's file dialog,
and closing; and the installer (wine_installer_test.py). Run by
scripts/wine-app-tests.sh in desktop.py's Wine mode."""

import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import desktop
from wine_installer_test import InstallerTest  # noqa: F401  (run with these tests)

APP = os.environ["KORVA_APP"]
SIM = os.environ["KORVA_SIM"]
MKIMAGE = os.environ["KORVA_MKIMAGE"]
WIN_MKIMAGE = os.environ["KORVA_WIN_MKIMAGE"]
WM_CLOSE = os.environ["KORVA_WM_CLOSE"]
PACKAGE = os.environ["KORVA_PACKAGE"]
TITLE = desktop.TITLE
SETTINGS_READ_END = "< Cmd: aa0001d52a"          # the last query of a settings read


def windows_path(path):
    """A Unix path as Wine shows it: on drive Z:."""
    return "Z:" + path.replace("/", "\\")


class PackageTest(unittest.TestCase):
    """The .zip for Windows users and what is compiled into its .exe."""

    def test_zip_holds_the_program_and_a_read_me(self):
        with zipfile.ZipFile(PACKAGE) as z:
            names = [os.path.basename(n) for n in z.namelist()]
        self.assertIn("korva-bluetooth-manager.exe", names)
        self.assertIn("README.txt", names)

    def test_exe_has_version_resource_and_icon(self):
        rc = desktop.run("x86_64-w64-mingw32-windres", "-i", APP, "-O", "rc")
        self.assertRegex(rc, r"FILEVERSION 1, 0, 0, 0")
        self.assertRegex(rc, r"PRODUCTVERSION 1, 0, 0, 0")
        self.assertIn('VALUE "ProductName", "Korva Bluetooth Manager"', rc)
        self.assertIn('VALUE "FileDescription", "Korva Bluetooth Manager"', rc)
        self.assertIn('VALUE "FileVersion", "1.0.0"', rc)
        self.assertIn('VALUE "ProductVersion", "1.0.0"', rc)
        icons = re.findall(r"Element no \d+", rc.split("RT_GROUP_ICON", 1)[1])
        self.assertGreaterEqual(len(icons), 4, "a multi-size icon")

    def test_exe_needs_only_windows_system_dlls(self):
        dump = desktop.run("x86_64-w64-mingw32-objdump", "-p", APP)
        self.assertIn("(Windows GUI)", dump)
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(dlls)
        for dll in dlls:
            self.assertNotRegex(dll, r"^(libstdc|libgcc|libwinpthread|zlib|libpng|libjpeg)", dll)


class ImageBuilderTest(unittest.TestCase):
    """The Windows build of korva-mkimage writes the same image as the native one."""

    def test_same_image_as_the_native_builder(self):
        out = tempfile.mkdtemp(prefix="korva-wine-mkimage-")
        native, windows = os.path.join(out, "native.bin"), os.path.join(out, "windows.bin")
        for model in ("RULKO", "DORU-415QX"):
            subprocess.run([MKIMAGE, "-o", native, "--model", model], check=True, capture_output=True)
            desktop.wine_run(WIN_MKIMAGE, "-o", windows_path(windows), "--model", model)
            with open(native, "rb") as a, open(windows, "rb") as b:
                self.assertEqual(a.read(), b.read(), model)


class WindowTest(unittest.TestCase):
    def setUp(self):
        self.session = desktop.Session(APP)

    def tearDown(self):
        self.session.close()

    def test_title_size_single_instance_and_close(self):
        window = self.session.window
        self.assertEqual(desktop.window_title(window), TITLE)
        desktop.wait_for(lambda: desktop.geometry(window)[2:] == (325, 115), timeout=10, what="325x115 client area")
        time.sleep(0.5)
        desktop.screenshot("wine-window-start", window)

        second = subprocess.run(desktop.app_command(APP), env=self.session.env, timeout=60)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(len(desktop.find_windows(TITLE)), 1, "a second start must not open a window")
        self.assertIsNone(self.session.app.poll(), "the first instance keeps running")

        subprocess.run([WM_CLOSE, str(window)], check=True)
        self.assertEqual(self.session.app.wait(timeout=30), 0)


class ReceiverTest(unittest.TestCase):
    def start(self, sim_type, name, family, cwd=None):
        self.session = desktop.Session(APP, SIM, ["--type", sim_type, "--name", name], cwd=cwd)
        self.window = self.session.window
        time.sleep(0.5)
        device_field = desktop.grab(self.window, 110, 50, 200, 20)
        desktop.choose_port(self.window, self.session.port_name)
        desktop.answer_box("Device type", family, shot=f"wine-{sim_type}-device-type")
        desktop.answer_box("Korva Bluetooth device found", "only", shot=f"wine-{sim_type}-found")
        # The model shows in the window: its repaints reach the screen.
        desktop.wait_for(lambda: desktop.grab(self.window, 110, 50, 200, 20) != device_field,
                         timeout=10, what="the model shown in the window")

    def tearDown(self):
        if hasattr(self, "session"):
            self.session.close()

    def sim_output(self):
        return self.session.sim_output()

    def height(self):
        return desktop.geometry(self.window)[3]

    def wait_reads(self, n):
        desktop.wait_for(lambda: self.sim_output().count(SETTINGS_READ_END) >= n, timeout=30,
                         what=f"{n} settings reads")
        time.sleep(0.8)    # the panel's result handler runs after the last answer

    def press(self, key):
        """A key for the window, after a click on an empty spot of the panel."""
        desktop.click(self.window, 20, 112)
        time.sleep(0.3)
        desktop.run("xdotool", "key", key)

    def close_window(self):
        subprocess.run([WM_CLOSE, str(self.window)], check=True)
        self.assertEqual(self.session.app.wait(timeout=30), 0)

    def test_rulko_settings(self):
        self.start("f0", "Kitchen", "right")
        desktop.wait_for(lambda: self.height() == 437, timeout=20, what="the Rulko form")
        self.wait_reads(1)
        self.assertIn("Kitchen".encode().hex(), self.sim_output(), "the name was read")
        desktop.screenshot("wine-form-filled", self.window)

        # A new name, written with F2, then read back with F3.
        desktop.click(self.window, 210, 135)
        time.sleep(0.3)
        desktop.run("xdotool", "key", "ctrl+a")
        desktop.type_text("Porch")
        desktop.run("xdotool", "key", "Return")
        time.sleep(0.3)
        self.press("F2")
        desktop.answer_box("Device configuration", "only", shot="wine-write-done")
        desktop.wait_for(lambda: "35000005" + "Porch".encode().hex() in self.sim_output(),
                         what="the name written to the receiver")
        written_at = len(self.sim_output())
        reads = self.sim_output().count(SETTINGS_READ_END)
        self.press("F3")
        self.wait_reads(reads + 1)
        self.assertIn("Porch".encode().hex(), self.sim_output()[written_at:], "the new name read back")
        desktop.screenshot("wine-name-read-back", self.window)

        # Restore the defaults: the settings are read again afterwards.
        reads = self.sim_output().count(SETTINGS_READ_END)
        desktop.click(self.window, 100, 348)
        desktop.answer_box("Device configuration", "only", timeout=30, shot="wine-restore-done")
        self.wait_reads(reads + 1)
        desktop.screenshot("wine-after-restore", self.window)

        # F5 detects again, then reads.
        reads = self.sim_output().count(SETTINGS_READ_END)
        self.press("F5")
        desktop.answer_box("Korva Bluetooth device found", "only")
        self.wait_reads(reads + 1)
        desktop.screenshot("wine-after-f5", self.window)

        self.close_window()

    def test_hci_receiver_at_the_slow_rate(self):
        self.start("f1", "Van", "left")
        desktop.wait_for(lambda: self.height() == 237, timeout=20, what="the F1 form")
        desktop.wait_for(lambda: "< Cmd: 0129fc0300b501" in self.sim_output(), what="the PIN switch read")
        time.sleep(0.8)
        desktop.screenshot("wine-f1-form", self.window)
        self.close_window()

    def browse(self, path, shot=None):
        desktop.click(self.window, 45, 411)                      # "Browse"
        chooser = desktop.wait_window("Browse to select firmware")
        time.sleep(1.0)
        if shot:
            desktop.screenshot(shot)
        # Wine's own dialog, with the keyboard in its file name box.
        desktop.type_text(windows_path(path))
        desktop.run("xdotool", "key", "Return")
        desktop.wait_gone(chooser)

    def test_firmware_update(self):
        images = tempfile.mkdtemp(prefix="korva-wine-fw-")
        for name, model in (("rulko.bin", "RULKO"), ("doru.bin", "DORU-415QX")):
            subprocess.run([MKIMAGE, "-o", os.path.join(images, name), "--model", model],
                           check=True, capture_output=True)
        self.start("f0", "Kitchen", "right", cwd=images)
        desktop.wait_for(lambda: self.height() == 437, timeout=20, what="the Rulko form")
        self.wait_reads(1)

        # An image for the other model is refused.
        self.browse(os.path.join(images, "doru.bin"), shot="wine-firmware-chooser")
        desktop.answer_box("Some error ocurred", "only", shot="wine-firmware-refused")
        self.assertNotIn("< Cmd: aa000e4900", self.sim_output(), "nothing was sent")

        # The right one is accepted and sent.
        self.browse(os.path.join(images, "rulko.bin"))
        time.sleep(0.8)
        desktop.screenshot("wine-firmware-accepted", self.window)
        desktop.click(self.window, 45, 411)                      # "Update"
        box = desktop.wait_window("Device update firmware", timeout=120)
        time.sleep(0.5)
        desktop.screenshot("wine-firmware-done")
        self.assertIn("< Cmd: aa00024907", self.sim_output(), "the transfer ended with UpdateClose")
        _, _, w, h = desktop.geometry(box)
        desktop.click(box, w // 2, h - 28)
        desktop.wait_gone(box)
        desktop.answer_box("Korva Bluetooth device found", "only")
        time.sleep(1.0)
        desktop.screenshot("wine-after-firmware-update", self.window)
        self.close_window()


if __name__ == "__main__":
    unittest.main(argv=sys.argv, verbosity=2)
