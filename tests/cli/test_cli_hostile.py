"""korva as a careless script or an impatient user runs it: closed pipes, hung-up
terminals, termination signals, hostile --from documents and paths that are no
files or devices, full disks, narrow terminals. Real korva processes against
korva-sim on real pseudo-terminals."""

import fcntl
import json
import os
import pty
import select
import signal
import struct
import subprocess
import termios
import threading
import time
import unittest

from test_cli import KORVA, CliTest, korva, korva_json

UPDATE_CLOSE = "< Cmd: aa00024907"   # the update's final command, as the receiver logs it


def wait_for(predicate, timeout=30):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def run_on_terminal(args, columns=100, with_errors=True):
    """korva with standard output (and error, unless with_errors is false) on a
    terminal of `columns` columns, as a user sees them: its exit code and all it
    wrote, with the terminal's own line ends."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, columns, 0, 0))
    proc = subprocess.Popen([KORVA, *args], stdout=slave, stderr=slave if with_errors else subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    os.close(slave)
    output = b""
    while True:
        ready, _, _ = select.select([master], [], [], 60)
        if not ready:
            break
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    os.close(master)
    return proc.wait(timeout=60), output.decode().replace("\r\n", "\n")


class Started:
    """A korva process whose standard output is read line by line as it comes."""

    def __init__(self, *args, **popen):
        self.proc = subprocess.Popen([KORVA, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True, **popen)
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(self.proc.stdout))
        self.reader.start()

    def progressed(self):
        return any('"percent":' in l and '"percent":0,' not in l for l in self.lines)

    def finish(self, timeout=60):
        code = self.proc.wait(timeout=timeout)
        self.reader.join()
        self.proc.stdout.close()
        self.err = self.proc.stderr.read()
        self.proc.stderr.close()
        return code


class Signals(CliTest):
    def test_a_closed_output_never_cuts_an_update_short(self):
        sim = self.sim("f0", "--delay-ms", "5")
        image = self.image("RULKO")
        proc = subprocess.Popen([KORVA, "update", sim.link, image], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        # As `korva update ... | head -n 2`: two lines, then the reader is gone.
        proc.stdout.readline()
        proc.stdout.readline()
        proc.stdout.close()
        code = proc.wait(timeout=120)
        err = proc.stderr.read().decode()
        proc.stderr.close()

        self.assertEqual(code, 7, err)
        self.assertIn("output could not be written", err)
        self.assertIn(UPDATE_CLOSE, sim.output(), "the update ran to its final command")

    def test_a_log_whose_reader_went_away_keeps_acknowledging(self):
        sim = self.sim("f0", "--stream-events", "200")
        proc = subprocess.Popen([KORVA, "log", sim.link, "--family", "rulko"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        for _ in range(5):
            proc.stdout.readline()
        proc.stdout.close()   # as `korva log ... | head -n 5`
        acks = lambda: sim.output().count("< Ack: ")
        before = acks()
        self.assertTrue(wait_for(lambda: acks() > before + 50, timeout=20), "acknowledgements stopped")
        self.assertIsNone(proc.poll(), "korva died with its reader")
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=20), 130)
        err = proc.stderr.read().decode()
        proc.stderr.close()
        self.assertIn("output could not be written", err)

    def test_termination_signals(self):
        # (signal, command, exit code, whether the update must complete)
        cases = [
            (signal.SIGTERM, "update", 0, True),
            (signal.SIGHUP, "update", 0, True),
            (signal.SIGTERM, "read", 130, False),
            (signal.SIGHUP, "read", 130, False),
        ]
        for sig, command, code, completes in cases:
            with self.subTest(signal=sig.name, command=command):
                if command == "update":
                    sim = self.sim("f0", "--delay-ms", "5")
                    run = Started("update", sim.link, self.image("RULKO"), "--json")
                    self.assertTrue(wait_for(run.progressed), run.lines)
                else:
                    sim = self.sim("f0", "--silent-after", "3")   # detect answers, the read waits
                    run = Started("read", sim.link, "--json")
                    self.assertTrue(wait_for(lambda: sim.output().count("< Cmd: ") == 3), sim.output())   # the read, unanswered
                run.proc.send_signal(sig)
                self.assertEqual(run.finish(), code, run.err)
                self.assertEqual(UPDATE_CLOSE in sim.output(), completes)
                doc = json.loads(run.lines[-1])
                self.assertEqual(doc["exitCode"], code)
                sim.stop()

    def test_ctrl_c_right_after_detection_sends_nothing_more(self):
        # A receiver that answers detection only after a while: Ctrl-C lands while
        # korva waits for it, and neither UpdateBegin nor anything else follows.
        sim = self.sim("f0", "--delay-ms", "300")
        run = Started("update", sim.link, self.image("RULKO"), "--json")
        time.sleep(0.2)
        run.proc.send_signal(signal.SIGINT)
        self.assertEqual(run.finish(), 130)
        time.sleep(0.5)
        self.assertNotIn("< Cmd: aa000e4900", sim.output(), "no update begins after Ctrl-C")

    def test_update_reports_the_version_detected_afterwards(self):
        sim = self.sim("f2")
        result = korva("update", sim.link, self.image("DORU-415QX"))
        self.assertExit(result, 0, "version now   1.05")

    def test_progress_bar_fits_the_terminal_and_redraws_in_place(self):
        sim = self.sim("f0", "--delay-ms", "2")
        image = self.image("RULKO")
        for columns in (80, 40):
            with self.subTest(columns=columns):
                code, text = run_on_terminal(["update", sim.link, image], columns=columns, with_errors=False)
                self.assertEqual(code, 0)
                bar_lines = [seg for line in text.split("\n") for seg in line.split("\r") if "%" in seg]
                self.assertGreater(len(bar_lines), 1, text)
                self.assertTrue(all(len(seg) < columns for seg in bar_lines),
                                [len(s) for s in bar_lines if len(s) >= columns])
                self.assertTrue(any("100%" in seg for seg in bar_lines))


class HostileInput(CliTest):
    def test_write_from_refuses_what_it_cannot_take(self):
        sim = self.sim("f0")
        fifo = os.path.join(self.tmp, "fifo.json")
        os.mkfifo(fifo)

        def doc(text):
            path = os.path.join(self.tmp, f"doc{len(os.listdir(self.tmp))}.json")
            with open(path, "w") as f:
                f.write(text)
            return path

        # (the --from file, text in the message)
        cases = [
            (doc('{"command":"read","ok":false,"exitCode":4,"settings":{"name":"X"}}'), "command that failed"),
            (doc('{"ok":true,"settings":{"maxDevices":true}}'), '"maxDevices" must be the number 1 or 8'),
            (doc('{"settings":{"name":"X"}}'), "must say whether it succeeded"),
            (doc('{"maxDevices":8.9}'), '"maxDevices"'),
            (doc('{"maxDevices":4294967297}'), '"maxDevices"'),
            (doc('{"settings":{"maxDevices":1e999}}'), None),
            (doc('{"name":"Den","colour":"red"}'), '"colour" is not a setting'),
            (doc('{"name":7}'), '"name" must be a string'),
            (doc('{"led":"on"}'), '"led" must be true or false'),
            (doc('[1,2]'), "must be an object"),
            (doc('{"name": "unterminated'), "not a JSON document"),
            (doc("[" * 100000 + "]" * 100000), None),
            (fifo, "not a regular file"),
            (self.tmp, "not a regular file"),
            (os.path.join(self.tmp, "absent.json"), "does not exist"),
        ]
        for path, text in cases:
            with self.subTest(path=os.path.basename(path), text=text):
                result = korva("write", sim.link, "--from", path, timeout=20)
                self.assertExit(result, 2, text)
        self.assertNotIn("< Cmd: ", sim.output(), "nothing reached the receiver")

        # What it takes: a successful read's document, or a bare settings object.
        ok = doc('{"name":"Den","maxDevices":1,"led":true}')
        self.assertExit(korva("write", sim.link, "--from", ok), 0, "[success]")

    def test_image_that_is_no_file(self):
        sim = self.sim("f0")
        fifo = os.path.join(self.tmp, "image.bin")
        os.mkfifo(fifo)
        for path in (fifo, self.tmp):
            with self.subTest(path=path):
                self.assertExit(korva("update", sim.link, path, timeout=20), 2, "not a regular file")

    def test_port_that_is_no_serial_device(self):
        fifo = os.path.join(self.tmp, "fifo")
        os.mkfifo(fifo)
        plain = os.path.join(self.tmp, "plain")
        open(plain, "w").close()
        for path in (self.tmp, fifo, plain, "/dev/null"):
            with self.subTest(port=path):
                result, docs = korva_json("detect", path)
                self.assertExit(result, 3)
                self.assertIn("is not a serial device", docs[-1]["error"])
                self.assertIsNone(docs[-1]["family"])

    def test_names_are_judged_in_bytes_and_only_when_changed(self):
        sim = self.sim("f0")
        cyrillic = "Ж" * 17   # 17 characters, 34 bytes
        result = korva("write", sim.link, "--name", cyrillic)
        self.assertExit(result, 2, "34 bytes")
        self.assertIn("at most 31 bytes", result.stderr)

        # A receiver holding a name the rules refuse takes other settings anyway.
        held = "x" * 32
        sim32 = self.sim("f0", "--name", held)
        result, docs = korva_json("write", sim32.link, "--led", "on")
        self.assertExit(result, 0)
        self.assertEqual(docs[-1]["settings"]["name"], held)
        self.assertEqual([c["setting"] for c in docs[-1]["changes"]], ["led"])


class Documents(CliTest):
    def test_json_keys_and_family_when_nothing_answered(self):
        silent = self.sim("f0", "--silent")
        result, docs = korva_json("detect", silent.link, "--family", "rulko")
        self.assertExit(result, 4)
        self.assertEqual(list(docs[-1])[:4], ["command", "ok", "exitCode", "error"])
        self.assertIsNone(docs[-1]["family"])

        result, docs = korva_json("detect", os.path.join(self.tmp, "absent"))
        self.assertExit(result, 3)
        self.assertEqual(list(docs[-1])[:4], ["command", "ok", "exitCode", "error"])
        self.assertIsNone(docs[-1]["family"])

        ok = self.sim("f0")
        result, docs = korva_json("restore", ok.link)
        self.assertExit(result, 0)
        self.assertEqual(list(docs[-1])[:4], ["command", "ok", "exitCode", "message"])

    def test_a_log_ended_by_ctrl_c_says_why(self):
        sim = self.sim("f0")
        run = Started("log", sim.link, "--family", "rulko", "--json")
        time.sleep(0.5)
        run.proc.send_signal(signal.SIGINT)
        self.assertEqual(run.finish(), 130)
        doc = json.loads(run.lines[-1])
        self.assertFalse(doc["ok"])
        self.assertEqual(doc["error"], "Interrupted.")

    def test_a_full_disk_is_an_error(self):
        sim = self.sim("f0")
        with open("/dev/full", "w") as full:
            result = subprocess.run([KORVA, "read", sim.link, "--json"], stdout=full, stderr=subprocess.PIPE,
                                    text=True, timeout=60)
        self.assertEqual(result.returncode, 7, result.stderr)
        self.assertIn("No space left on device", result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
