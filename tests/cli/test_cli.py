"""korva, the command line, run as a user runs it against simulated receivers
(korva-sim) on real pseudo-terminals: every command for every receiver type,
its JSON and its exit code; the error paths; cloning settings between two
receivers; two updates at once; Ctrl-C during an update."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

KORVA = os.environ["KORVA_CLI"]
SIM = os.environ["KORVA_SIM"]
MKIMAGE = os.environ["KORVA_MKIMAGE"]

MODELS = {"f0": "Rulko", "f1": "zVARNELO7QX", "f2": "DORU-415QX"}
TYPE_CODES = {"f0": "0xF0", "f1": "0xF1", "f2": "0xF2"}
IMAGE_MODELS = {"f0": "RULKO", "f2": "DORU-415QX"}
FULL_SETTINGS = ["name", "pin", "stereo", "maxDevices", "gpoNormallyOpen", "led", "frontRestore"]


class Simulator:
    """A korva-sim process whose pty is linked at a fixed path."""

    def __init__(self, tmp, kind="f0", *args, name="sim"):
        self.link = os.path.join(tmp, name)
        self.log_path = self.link + ".log"
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen([SIM, "--type", kind, "--link", self.link, *args],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.link):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise RuntimeError(f"korva-sim did not make {self.link}")
            time.sleep(0.02)

    def output(self):
        with open(self.log_path) as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def korva(*args, env=None, timeout=120):
    return subprocess.run([KORVA, *args], capture_output=True, text=True, timeout=timeout,
                          env=env if env is not None else os.environ.copy())


def korva_json(*args):
    result = korva(*args, "--json")
    lines = [l for l in result.stdout.splitlines() if l.strip()]
    return result, [json.loads(l) for l in lines]


class CliTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="korva-cli-")
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def sim(self, kind="f0", *args, name=None):
        sim = Simulator(self.tmp, kind, *args, name=name or f"sim{len(self.sims)}")
        self.sims.append(sim)
        return sim

    def image(self, model, *args):
        path = os.path.join(self.tmp, f"{model}-{len(os.listdir(self.tmp))}.bin")
        subprocess.run([MKIMAGE, "-o", path, "--model", model, *args], check=True, capture_output=True)
        return path

    def assertExit(self, result, code, text=None):
        self.assertEqual(result.returncode, code, f"stdout: {result.stdout}\nstderr: {result.stderr}")
        if text is not None:
            self.assertIn(text, result.stdout + result.stderr)


class Commands(CliTest):
    def test_ports_lists_the_extra_ports_as_the_window_does(self):
        sim = self.sim()
        env = dict(os.environ, KORVA_EXTRA_PORTS=sim.link + ":" + os.path.join(self.tmp, "absent"))
        result = korva("ports", env=env)
        self.assertExit(result, 0)
        self.assertTrue(any(l.split()[0] == sim.link for l in result.stdout.splitlines()))
        self.assertNotIn("absent", result.stdout)

        result = korva("ports", "--json", env=env)
        self.assertExit(result, 0)
        doc = json.loads(result.stdout)
        self.assertEqual(doc["command"], "ports")
        self.assertTrue(doc["ok"])
        entry = next(p for p in doc["ports"] if p["name"] == sim.link)
        self.assertEqual(set(entry), {"name", "device", "description", "driver", "rfcomm", "usb", "bluetooth",
                                      "stableName", "console"})
        self.assertEqual(entry["device"], sim.link)
        self.assertEqual(entry["description"], "pseudo-terminal")
        self.assertIsNone(entry["usb"])
        self.assertFalse(entry["console"])
        self.assertIn(sim.link + "  pseudo-terminal", korva("ports", env=env).stdout.splitlines())

    def test_detect_read_write_restore_on_every_type(self):
        for kind in ("f0", "f1", "f2"):
            with self.subTest(type=kind):
                sim = self.sim(kind)
                model = MODELS[kind]

                result = korva("detect", sim.link)
                self.assertExit(result, 0, model)
                self.assertIn(TYPE_CODES[kind], result.stdout)
                if kind != "f1":
                    self.assertIn("1.05", result.stdout)

                result, docs = korva_json("detect", sim.link)
                self.assertExit(result, 0)
                self.assertEqual(docs[-1]["device"]["model"], model)
                self.assertEqual(docs[-1]["device"]["typeCode"], TYPE_CODES[kind])
                self.assertEqual(docs[-1]["family"], "zvarnelo" if kind == "f1" else "rulko")

                result, docs = korva_json("read", sim.link)
                self.assertExit(result, 0)
                settings = docs[-1]["settings"]
                self.assertEqual(list(settings), FULL_SETTINGS if kind != "f1" else ["name", "pin"])
                self.assertEqual(settings["name"], "Rulko")
                self.assertEqual(settings["pin"], "0000")

                write = ["write", sim.link, "--name", "Garage", "--pin", "4321"]
                if kind != "f1":
                    write += ["--mono", "--max-devices", "1", "--gpo", "closed", "--led", "on", "--front-restore", "off"]
                result = korva(*write)
                self.assertExit(result, 0, "[success]")
                self.assertIn("name: Rulko -> Garage  (verified)", result.stdout)

                result, docs = korva_json("read", sim.link)
                self.assertEqual(docs[-1]["settings"]["name"], "Garage")
                self.assertEqual(docs[-1]["settings"]["pin"], "4321")
                if kind != "f1":
                    self.assertEqual(docs[-1]["settings"]["stereo"], False)
                    self.assertEqual(docs[-1]["settings"]["maxDevices"], 1)
                    self.assertEqual(docs[-1]["settings"]["gpoNormallyOpen"], False)

                    result, docs = korva_json("restore", sim.link)
                    self.assertExit(result, 0)
                    self.assertEqual(docs[-1]["settings"]["name"], "Rulko")
                else:
                    result = korva("restore", sim.link)
                    self.assertExit(result, 6, "does not support")
                sim.stop()

    def test_write_json_reports_changes_and_ignores_what_the_type_lacks(self):
        sim = self.sim("f1")
        result, docs = korva_json("write", sim.link, "--no-pin", "--stereo")
        self.assertExit(result, 0)
        doc = docs[-1]
        self.assertEqual(doc["ignored"], ["stereo"])
        self.assertEqual(doc["changes"], [{"setting": "pin", "from": "0000", "to": "", "verified": True}])
        self.assertTrue(doc["verified"])
        self.assertIn("keeps only its name and PIN", result.stderr)

    def test_update_on_each_updatable_type(self):
        for kind in ("f0", "f2"):
            with self.subTest(type=kind):
                sim = self.sim(kind)
                image = self.image(IMAGE_MODELS[kind])

                result = korva("update", sim.link, image)
                self.assertExit(result, 0, "Update firmware is done [success]")
                self.assertIn("100%", result.stdout)   # plain progress lines: not a terminal

                result, docs = korva_json("update", sim.link, image)
                self.assertExit(result, 0)
                progress = [d for d in docs if d.get("event") == "progress"]
                self.assertGreaterEqual(len(progress), 1)
                self.assertEqual(set(progress[-1]), {"event", "percent", "bytes", "totalBytes",
                                                     "bytesPerSecond", "secondsLeft"})
                self.assertEqual(progress[-1]["percent"], 100)
                self.assertEqual(progress[-1]["bytes"], progress[-1]["totalBytes"])
                self.assertEqual(docs[-1]["command"], "update")
                self.assertTrue(docs[-1]["ok"])
                sim.stop()

    def test_update_refused_for_a_type_without_updates(self):
        sim = self.sim("f1")
        result = korva("update", sim.link, self.image("RULKO"))
        self.assertExit(result, 6, "does not take firmware updates")

    def test_log_prints_every_frame_until_ctrl_c(self):
        # auto: finds the family first, so the detect's frames are logged; a named
        # family listens at once and sends nothing itself.
        for family in ("auto", "rulko"):
            with self.subTest(family=family):
                sim = self.sim("f0", "--paired", "1")
                with subprocess.Popen([KORVA, "log", sim.link, "--family", family, "--json"],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as proc:
                    lines = []
                    reader = threading.Thread(target=lambda: lines.extend(proc.stdout))
                    reader.start()
                    deadline = time.monotonic() + 20
                    if family == "auto":
                        while not any('"> Evt: ' in l for l in lines) and time.monotonic() < deadline:
                            time.sleep(0.05)
                    else:
                        time.sleep(0.5)
                    proc.send_signal(signal.SIGINT)
                    self.assertEqual(proc.wait(timeout=20), 130)
                    reader.join()

                events = [json.loads(l) for l in lines]
                traces = [e["line"] for e in events if e.get("event") == "trace"]
                self.assertTrue(all(t[:7] in ("< Cmd: ", "< Ack: ", "> Evt: ") or t.startswith("! ") for t in traces))
                if family == "auto":
                    self.assertTrue(any(t.startswith("> Evt: ") for t in traces), f"no frames: {lines}")
                else:
                    self.assertNotIn("< Cmd: ", sim.output())
                self.assertEqual(events[-1]["command"], "log")
                self.assertEqual(events[-1]["exitCode"], 130)
                sim.stop()


class Errors(CliTest):
    def test_error_paths(self):
        rulko = self.sim("f0", name="rulko")
        zvarnelo = self.sim("f1", name="zvarnelo")
        silent = self.sim("f0", "--silent", name="silent")
        refusing = self.sim("f0", "--refuse", "35:01", name="refusing")
        doru_image = self.image("DORU-415QX")

        # (arguments, exit code, text in the output)
        cases = [
            (["detect", os.path.join(self.tmp, "absent")], 3, "is not there"),
            (["detect", silent.link], 4, "Doesn't appear to be any KORVA Bluetooth device on this port"),
            (["read", silent.link, "--family", "rulko"], 4, "Doesn't appear"),
            (["write", refusing.link, "--name", "Nope"], 5, "The receiver refused the setting"),
            (["update", rulko.link, doru_image], 6, "Selected file is not compatible with your hardware"),
            (["detect", zvarnelo.link, "--family", "rulko"], 4, "but a zVARNELO7QX answers"),
            (["detect", rulko.link, "--family", "zvarnelo"], 4, "but a Rulko answers"),
            (["write", rulko.link, "--name", ""], 2, "Please check parameters. It seems not valid"),
            (["write", rulko.link, "--name", "x" * 32], 2, "Please check parameters"),
            (["write", rulko.link, "--pin", "12a4"], 2, "Please check parameters"),
            (["write", rulko.link, "--pin", "1234", "--no-pin"], 2, "excludes"),
            (["write", rulko.link, "--max-devices", "3"], 2, None),
            (["detect", rulko.link, "--family", "other"], 2, None),
            (["update", rulko.link, os.path.join(self.tmp, "absent.bin")], 2, None),
            (["detect"], 2, "No PORT given"),   # no receiver on the ports listed here
            (["update"], 2, "IMAGE"),
            ([], 2, None),
        ]
        if os.geteuid() != 0:
            locked = self.sim("f0", name="locked")
            os.chmod(os.path.realpath(locked.link), 0)
            cases.append((["detect", locked.link], 3, "dialout"))

        for args, code, text in cases:
            with self.subTest(args=args):
                result = korva(*args)
                self.assertExit(result, code, text)
                if code not in (0, 2):
                    # The same failure as one JSON document on standard output.
                    result = korva(*args, "--json")
                    self.assertEqual(result.returncode, code)
                    doc = json.loads(result.stdout)
                    self.assertFalse(doc["ok"])
                    self.assertEqual(doc["exitCode"], code)
                    if text is not None:
                        self.assertIn(text, doc["error"])

    def test_connection_lost_mid_job(self):
        # (command, simulator fault, text); each run gets a receiver of its own.
        cases = [
            ("read", ["--vanish-after", "3"], "The connection to the receiver was lost"),
            ("update", ["--vanish-on", "04:3"], "The receiver may need the update again"),
        ]
        for command, fault, text in cases:
            for as_json in (False, True):
                with self.subTest(command=command, json=as_json):
                    sim = self.sim("f0", *fault)
                    args = [command, sim.link] + ([self.image("RULKO")] if command == "update" else [])
                    result = korva(*args, *(["--json"] if as_json else []))
                    self.assertExit(result, 6, text)
                    if as_json:
                        doc = json.loads(result.stdout.splitlines()[-1])
                        self.assertEqual((doc["ok"], doc["exitCode"]), (False, 6))
                    sim.stop()

    def test_auto_family_finds_either_family(self):
        for kind in ("f0", "f1", "f2"):
            with self.subTest(type=kind):
                sim = self.sim(kind)
                result, docs = korva_json("detect", sim.link, "--family", "auto")
                self.assertExit(result, 0)
                self.assertEqual(docs[-1]["device"]["model"], MODELS[kind])
                sim.stop()


class Scenarios(CliTest):
    def test_settings_cloned_between_two_receivers(self):
        name = "Küche ♫ Café"
        source = self.sim("f2", "--name", name, "--pin", "2468", name="source")
        target = self.sim("f2", name="target")

        read = korva("read", source.link, "--json")
        self.assertExit(read, 0)
        saved = os.path.join(self.tmp, "settings.json")
        with open(saved, "w", encoding="utf-8") as f:
            f.write(read.stdout)
        self.assertEqual(json.loads(read.stdout)["settings"]["name"], name)

        self.assertExit(korva("write", target.link, "--from", saved), 0, "[success]")

        cloned = json.loads(korva("read", target.link, "--json").stdout)["settings"]
        self.assertEqual(cloned, json.loads(read.stdout)["settings"])

    def test_two_updates_at_once(self):
        sims = [self.sim("f0", name="one"), self.sim("f2", name="two")]
        images = [self.image("RULKO"), self.image("DORU-415QX")]
        procs = [subprocess.Popen([KORVA, "update", s.link, i, "--json"], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True) for s, i in zip(sims, images)]
        for proc in procs:
            out, err = proc.communicate(timeout=120)
            self.assertEqual(proc.returncode, 0, out + err)
            self.assertTrue(json.loads(out.splitlines()[-1])["ok"])

    def test_ctrl_c_during_an_update(self):
        sim = self.sim("f0", "--delay-ms", "20")
        image = self.image("RULKO")
        with subprocess.Popen([KORVA, "update", sim.link, image, "--json"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) as proc:
            lines = []
            reader = threading.Thread(target=lambda: lines.extend(proc.stdout))
            reader.start()
            deadline = time.monotonic() + 30
            while not any('"percent":' in l and '"percent":0,' not in l for l in lines) and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertLess(time.monotonic(), deadline, f"the update did not start: {lines}")

            proc.send_signal(signal.SIGINT)
            self.assertEqual(proc.wait(timeout=20), 130)
            reader.join()
        doc = json.loads(lines[-1])
        self.assertFalse(doc["ok"])
        self.assertEqual(doc["exitCode"], 130)
        self.assertIn("may need the update again", doc["error"])

        # The port was closed: the receiver is free for the next run.
        self.assertExit(korva("detect", sim.link), 0, "Rulko")


if __name__ == "__main__":
    unittest.main(verbosity=2)
