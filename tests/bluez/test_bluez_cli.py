"""korva reaching paired receivers through BlueZ, as an ordinary user: a private
dbus-daemon as the system bus, the BlueZ stand-in on it, and korva-sim serving
each connection BlueZ hands over as a socket."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))

from bluez_fixture import BluezStandIn  # noqa: E402
from sectioned_image import image_with_sections  # noqa: E402

KORVA = os.environ["KORVA_CLI"]
MKIMAGE = os.environ["KORVA_MKIMAGE"]

RECEIVER = "00:11:22:AA:BB:01"
PORT = "bt:" + RECEIVER


class BluezTest(unittest.TestCase):
    with_bluez = True

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="korva-bluez-")
        self.bluez = BluezStandIn(self.tmp, with_bluez=self.with_bluez)
        if self.with_bluez:
            self.bluez.add_adapter()

    def tearDown(self):
        self.bluez.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def korva(self, *args, timeout=120, env=None):
        return subprocess.run([KORVA, *args], capture_output=True, text=True, timeout=timeout,
                              env=env if env is not None else self.bluez.env())

    def korva_json(self, *args):
        result = self.korva(*args, "--json")
        return result, [json.loads(l) for l in result.stdout.splitlines() if l.strip()]

    def bluez_log(self):
        with open(os.path.join(self.tmp, "bluez.log")) as f:
            return f.read()

    def bluetooth_ports(self, env=None):
        result = self.korva("ports", "--json", env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        return [p for p in json.loads(result.stdout)["ports"] if p["name"].startswith("bt:")]

    def assertExit(self, result, code, text=None):
        self.assertEqual(result.returncode, code, f"stdout: {result.stdout}\nstderr: {result.stderr}")
        if text is not None:
            self.assertIn(text, result.stdout + result.stderr)

    def image_with_sections(self):
        return image_with_sections(MKIMAGE, self.tmp)

class Listing(BluezTest):
    def test_paired_receivers_are_listed_by_name_and_follow_pairing(self):
        kitchen = self.bluez.add_receiver(RECEIVER, "Rulko kitchen", sim_args=["--type", "f0"])
        self.bluez.add_headphones("00:11:22:AA:BB:02", "Headphones")

        ports = self.bluetooth_ports()
        self.assertEqual([p["name"] for p in ports], [PORT], "headphones offer no serial port")
        self.assertEqual(ports[0]["bluetooth"], {"direction": "outgoing", "address": RECEIVER, "name": "Rulko kitchen",
                                                 "paired": True, "connected": False})
        self.assertEqual(ports[0]["description"], f"Rulko kitchen ({RECEIVER}), Bluetooth link, paired, not connected")
        self.assertFalse(ports[0]["rfcomm"])

        garage = self.bluez.add_receiver("00:11:22:AA:BB:00", "Rulko garage")
        self.assertEqual([p["name"] for p in self.bluetooth_ports()], ["bt:00:11:22:AA:BB:00", PORT], "ordered by address")

        self.bluez.remove(kitchen)
        self.bluez.control.Unpair(garage)
        self.assertEqual(self.bluetooth_ports(), [])

    def test_no_bluez_gives_no_bluetooth_ports_at_once(self):
        # No system bus at all, and a bus without BlueZ: no entries, no error.
        self.bluez.stop_bluez()
        for env in (self.bluez.env(), {**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + self.tmp + "/none"}):
            with self.subTest(address=env["DBUS_SYSTEM_BUS_ADDRESS"]):
                self.assertEqual(self.bluetooth_ports(env=env), [])
                result = self.korva("detect", PORT, env=env)
                self.assertExit(result, 3, "the Bluetooth service (BlueZ) is not running")


class Conversations(BluezTest):
    def test_detect_read_write_restore_over_the_link(self):
        # Both families: the framed receiver (921600) and the HCI one (115200).
        for kind, address in (("f0", "00:11:22:AA:BB:10"), ("f1", "00:11:22:AA:BB:11")):
            with self.subTest(type=kind):
                port = "bt:" + address.lower()   # names are typed in either case
                path = self.bluez.add_receiver(address, "Receiver " + kind, sim_args=["--type", kind])

                result, docs = self.korva_json("detect", port)
                self.assertExit(result, 0)
                self.assertEqual(docs[-1]["device"]["model"], {"f0": "Rulko", "f1": "zVARNELO7QX"}[kind])

                write = ["write", port, "--name", "Garage", "--pin", "4321"]
                if kind == "f0":
                    write += ["--mono", "--max-devices", "1"]
                self.assertExit(self.korva(*write), 0, "name: Rulko -> Garage  (verified)")

                result, docs = self.korva_json("read", port)
                self.assertExit(result, 0)
                self.assertEqual((docs[-1]["settings"]["name"], docs[-1]["settings"]["pin"]), ("Garage", "4321"))

                if kind == "f0":
                    result, docs = self.korva_json("restore", port)
                    self.assertExit(result, 0)
                    self.assertEqual(docs[-1]["settings"]["name"], "Rulko")

                # Each job's connection was ended: BlueZ was told, the receiver is free.
                self.assertGreaterEqual(self.bluez.disconnects(path), 1)
                self.assertFalse(self.bluetooth_ports()[-1]["bluetooth"]["connected"])

    def test_update_over_the_link_is_byte_identical(self):
        self.bluez.add_receiver(RECEIVER, "Rulko kitchen", sim_args=["--type", "f0"])
        image, digest = self.image_with_sections()
        result = self.korva("update", PORT, image)
        self.assertExit(result, 0, "Update firmware is done [success]")
        received = [l for l in self.bluez.sim_log(RECEIVER).splitlines() if l.startswith("firmware received")]
        self.assertEqual(received, [f"firmware received: mcu 30000 dsp-header 300 dsp 20000 config 2000 fnv1a {digest}"])

    def test_link_dropping_mid_update_is_reported_as_interrupted(self):
        self.bluez.add_receiver(RECEIVER, "Rulko kitchen", sim_args=["--type", "f0", "--vanish-on", "04:3"])
        image, _ = self.image_with_sections()
        result = self.korva("update", PORT, image)
        self.assertExit(result, 6, "The receiver may need the update again")


class Ending(BluezTest):
    def test_bluez_asking_to_disconnect_ends_the_job_as_a_lost_port(self):
        path = self.bluez.add_receiver(RECEIVER, "Rulko kitchen", sim_args=["--type", "f0"])
        with subprocess.Popen([KORVA, "log", PORT, "--family", "rulko"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, env=self.bluez.env()) as proc:
            deadline = time.monotonic() + 20
            while not self.bluetooth_ports()[0]["bluetooth"]["connected"] and time.monotonic() < deadline:
                time.sleep(0.05)
            self.bluez.request_disconnection(path)
            out, err = proc.communicate(timeout=20)
        self.assertEqual(proc.returncode, 6, out + err)
        self.assertIn("the port was lost during the job", out + err)

    def test_ctrl_c_while_connecting_ends_at_once(self):
        self.bluez.add_receiver(RECEIVER, "Rulko kitchen", "never", 0, ["--type", "f0"])
        with subprocess.Popen([KORVA, "detect", PORT], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, env=self.bluez.env()) as proc:
            # Once the stand-in was asked to connect.
            deadline = time.monotonic() + 20
            while "ConnectProfile" not in self.bluez_log():
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.05)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=5)   # well within the 20 s connection limit
        self.assertEqual(proc.returncode, 130, out + err)
        self.assertIn("Interrupted.", out + err)


class SeveralReceivers(BluezTest):
    def test_scan_and_several_ports_at_once(self):
        self.bluez.add_receiver("00:11:22:AA:BB:31", "Kitchen", sim_args=["--type", "f0"])
        self.bluez.add_receiver("00:11:22:AA:BB:32", "Hall", sim_args=["--type", "f2"])
        off = self.bluez.add_receiver("00:11:22:AA:BB:33", "Cellar", "off", 1000, ["--type", "f0"])
        a, b, c = ("bt:00:11:22:AA:BB:3" + n for n in "123")

        # scan probes them in parallel with the serial ports; one that is off is
        # listed with the reason, and --skip keeps one out.
        result, docs = self.korva_json("scan")
        self.assertExit(result, 0)
        found = {p["port"]: p for p in docs[-1]["ports"] if p["port"].startswith("bt:")}
        self.assertEqual((found[a]["state"], found[a]["model"]), ("receiver", "Rulko"))
        self.assertEqual((found[b]["state"], found[b]["model"]), ("receiver", "DORU-415QX"))
        self.assertEqual(found[c]["state"], "unreachable")
        self.assertIn("did not answer the Bluetooth connection (BlueZ: Page Timeout)", found[c]["reason"])

        result, docs = self.korva_json("scan", "--skip", c)
        self.assertEqual([p["state"] for p in docs[-1]["ports"] if p["port"] == c], ["skipped"])

        # Several at once, each on its own connection.
        result, docs = self.korva_json("read", a, b)
        self.assertExit(result, 0)
        self.assertEqual([(r["port"], r["ok"]) for r in docs[-1]["results"]], [(a, True), (b, True)])

        # The port-less form takes the only receiver there is.
        self.bluez.remove(off)
        self.bluez.remove("/org/bluez/hci0/dev_00_11_22_AA_BB_32")
        result = self.korva("detect")
        self.assertExit(result, 0, f"using {a}, the only receiver found")


class Faults(BluezTest):
    def test_each_fault_says_what_to_do(self):
        # (behaviour, delay, setup, text); each case gets a receiver of its own.
        cases = [
            ("off", 1500, None, "Switch the receiver on and bring it within range"),
            ("down", 200, None, "Switch the receiver on and bring it within range"),
            ("taken", 0, None, "is connected to another program or device already"),
            ("answer", 0, "bluetooth off", "Turn Bluetooth on"),
            ("answer", 0, "unpaired", "is not paired with this computer"),
        ]
        for i, (behaviour, delay, setup, text) in enumerate(cases):
            with self.subTest(behaviour=behaviour, setup=setup):
                address = f"00:11:22:AA:BB:{0x20 + i:02X}"
                path = self.bluez.add_receiver(address, "Receiver", behaviour, delay, ["--type", "f0"])
                if setup == "bluetooth off":
                    self.bluez.set_powered(False)
                    self.assertEqual([p["name"] for p in self.bluetooth_ports()][-1], "bt:" + address,
                                     "still listed while Bluetooth is off")
                if setup == "unpaired":
                    self.bluez.remove(path)
                for as_json in (False, True):
                    result = self.korva("detect", "bt:" + address, *(["--json"] if as_json else []))
                    self.assertExit(result, 3, text)
                self.bluez.set_powered(True)

    def test_a_connection_that_never_comes_up_ends_at_the_limit(self):
        # BlueZ never answers: korva gives up on its own, within the 20 s limit.
        self.bluez.add_receiver(RECEIVER, "Rulko kitchen", "never", 0, ["--type", "f0"])
        result = self.korva("detect", PORT, timeout=40)
        self.assertExit(result, 3, "did not come up within 20 seconds")


if __name__ == "__main__":
    unittest.main(verbosity=2)
