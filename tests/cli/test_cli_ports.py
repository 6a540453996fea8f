"""korva driving several receivers at once from one process, finding them with
scan, and the port-less form: real korva and korva-sim processes on ptys."""

import fcntl
import json
import os
import re
import time
import unittest

from sectioned_image import image_with_sections
from test_cli import KORVA, MKIMAGE, MODELS, TYPE_CODES, CliTest, korva, korva_json

DETECTION_ONLY = re.compile(r"^< (Cmd|Ack): (0129fc0307ba04|aa0002d000|aa0002d001|aa000214)")


def last_document(result):
    return json.loads(result.stdout.splitlines()[-1])


def in_console_list(device):
    try:
        with open("/proc/consoles") as f:
            return any(l.split()[0] == os.path.basename(device) for l in f if l.strip())
    except OSError:
        return False


class SeveralPorts(CliTest):
    def image_with_sections(self):
        return image_with_sections(MKIMAGE, self.tmp)

    def test_update_on_four_at_once_with_one_refusing_a_chunk(self):
        image, digest = self.image_with_sections()
        sims = [self.sim("f0", name="a"), self.sim("f0", name="b"),
                self.sim("f0", "--refuse", "49:01:04", name="refusing"), self.sim("f0", name="d")]
        ports = [s.link for s in sims]

        result = korva("update", *ports, image, "--json")
        self.assertExit(result, 5)
        lines = [json.loads(l) for l in result.stdout.splitlines()]
        doc = lines[-1]
        self.assertEqual((doc["command"], doc["ok"], doc["exitCode"]), ("update", False, 5))
        self.assertEqual([r["port"] for r in doc["results"]], ports, "one result per port, in the order given")
        for sim, r in zip(sims, doc["results"]):
            self.assertEqual(r["command"], "update")
            if sim is sims[2]:
                self.assertEqual((r["ok"], r["exitCode"]), (False, 5))
                self.assertIn("refused a command after the update had begun", r["error"])
            else:
                self.assertEqual((r["ok"], r["exitCode"], r["family"]), (True, 0, "rulko"), r)
                self.assertEqual(r["totalBytes"], 52300)

        progress = [l for l in lines[:-1] if l.get("event") == "progress"]
        self.assertEqual({p["port"] for p in progress}, set(ports), "JSON lines carry their port")
        self.assertEqual(list(progress[0])[:2], ["event", "port"])

        time.sleep(0.2)
        for sim in sims:
            received = [l for l in sim.output().splitlines() if l.startswith("firmware received")]
            if sim is sims[2]:
                self.assertEqual(received, [])
            else:
                self.assertEqual(received, [f"firmware received: mcu 30000 dsp-header 300 dsp 20000 config 2000 "
                                            f"fnv1a {digest}"], "byte-identical to the image")

        # Text, not on a terminal: one line per port per step, naming the port.
        result = korva("update", sims[0].link, sims[1].link, image)
        self.assertExit(result, 0)
        self.assertIn(f"{sims[0].link}: update: 100%", result.stdout)
        self.assertIn(f"{sims[1].link}: Update firmware is done [success]", result.stdout)

    def test_read_on_three_types_at_once(self):
        sims = {kind: self.sim(kind, name=kind) for kind in ("f0", "f1", "f2")}
        result, docs = korva_json("read", *(s.link for s in sims.values()))
        self.assertExit(result, 0)
        doc = docs[-1]
        self.assertTrue(doc["ok"])
        self.assertEqual(len(doc["results"]), 3)
        for (kind, sim), r in zip(sims.items(), doc["results"]):
            single = json.loads(korva("read", sim.link, "--json").stdout)
            self.assertEqual(r, single, "each entry is shaped as the single-port document")
            self.assertEqual(r["device"]["model"], MODELS[kind])
            self.assertEqual(r["device"]["typeCode"], TYPE_CODES[kind])

    def test_the_first_port_that_failed_gives_the_exit_status(self):
        silent = self.sim("f0", "--silent", name="silent")
        good = self.sim("f2", name="good")
        absent = os.path.join(self.tmp, "absent")
        for ports, code in (([good.link], 0), ([good.link, silent.link, absent], 4),
                            ([absent, silent.link], 3), ([good.link, good.link], 2)):
            with self.subTest(ports=ports):
                result = korva("detect", *ports, "--family", "rulko")
                self.assertExit(result, code)
        self.assertIn("named twice", result.stderr)


class Scan(CliTest):
    def test_scan_lists_each_type_a_silent_port_and_a_held_one(self):
        sims = [self.sim(kind, name=kind) for kind in ("f0", "f1", "f2")]
        silent = self.sim("f0", "--silent", name="silent")
        held = self.sim("f0", name="held")
        holder = os.open(os.path.realpath(held.link), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
            named = [s.link for s in sims] + [silent.link, held.link]
            start = time.monotonic()
            result = korva("scan", *named, "--all", "--json")
            took = time.monotonic() - start
        finally:
            os.close(holder)

        self.assertExit(result, 0)
        doc = json.loads(result.stdout)
        entries = {e["port"]: e for e in doc["ports"]}
        for kind, sim in zip(("f0", "f1", "f2"), sims):
            e = entries[sim.link]
            self.assertEqual((e["state"], e["model"], e["typeCode"]), ("receiver", MODELS[kind], TYPE_CODES[kind]))
            self.assertEqual(e["family"], "zvarnelo" if kind == "f1" else "rulko")
        self.assertEqual(entries[sims[0].link]["version"], "1.05")
        self.assertEqual(entries[silent.link]["state"], "silent")
        self.assertEqual(entries[held.link]["state"], "unavailable")
        self.assertIn("in use by another program", entries[held.link]["reason"])
        # All at once: about one silent port's detection at both rates, not five.
        self.assertLess(took, 12, "the ports are probed in parallel")

        # A system console listed here is skipped, never probed, unless named.
        for e in doc["ports"]:
            if e["port"] not in named and in_console_list(e["port"]):
                self.assertEqual(e["state"], "skipped")
                self.assertIn("console", e["reason"])

        # Nothing beyond detection's probes reached any receiver.
        time.sleep(0.2)
        for sim in sims + [silent]:
            sent = [l for l in sim.output().splitlines() if l.startswith("< ")]
            self.assertTrue(all(DETECTION_ONLY.match(l) for l in sent), sent)

        # Without --all, the silent port is left out; text lists what was found.
        result = korva("scan", *named)
        self.assertExit(result, 0)
        self.assertNotIn(silent.link, result.stdout)
        self.assertIn("DORU-415QX", result.stdout)

        # A port named with --skip is never probed (Windows cannot tell a console).
        before = sims[1].output()
        result = korva("scan", sims[0].link, "--skip", sims[1].link, "--json")
        entries = {e["port"]: e for e in json.loads(result.stdout)["ports"]}
        self.assertEqual(entries[sims[1].link]["state"], "skipped")
        self.assertEqual(entries[sims[0].link]["state"], "receiver")
        time.sleep(0.2)
        self.assertEqual(sims[1].output(), before)

    def test_no_port_uses_the_only_receiver_and_refuses_to_guess(self):
        one = self.sim("f2", name="one")
        env = dict(os.environ, KORVA_EXTRA_PORTS=one.link)
        result = korva("read", "--json", env=env)
        self.assertExit(result, 0)
        self.assertIn(f"using {one.link}, the only receiver found (DORU-415QX)", result.stderr)
        self.assertEqual(json.loads(result.stdout)["device"]["model"], "DORU-415QX")

        two = self.sim("f0", name="two")
        env = dict(os.environ, KORVA_EXTRA_PORTS=one.link + ":" + two.link)
        result = korva("detect", env=env)
        self.assertExit(result, 2, "2 receivers answered")
        self.assertIn(one.link, result.stderr)
        self.assertIn(two.link, result.stderr)

        result = korva("detect", "--json", env=env)
        self.assertEqual(result.returncode, 2)
        doc = json.loads(result.stdout)
        self.assertEqual({e["port"] for e in doc["ports"] if e["state"] == "receiver"}, {one.link, two.link})


if __name__ == "__main__":
    unittest.main(verbosity=2)
