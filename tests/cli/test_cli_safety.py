"""korva with several receivers and hostile surroundings: text from outside the
program shown safely on a terminal, one receiver under two names, exit requests
across ports, checks made before the receiver is contacted. Real korva and
korva-sim processes on ptys."""

import fcntl
import json
import termios
import os
import signal
import subprocess
import sys
import time
import unittest

from test_cli import KORVA, CliTest, korva, korva_json
from test_cli_hostile import UPDATE_CLOSE, Started, run_on_terminal, wait_for

UPDATE_BEGIN = "< Cmd: aa000e4900"

# A name that retitles the terminal and clears it, with a C1 CSI and a DEL.
HOSTILE = "\x1b]0;owned\x07\x1b[2J\u009b1m\x7f"
SHOWN = "\\x1B]0;owned\\x07\\x1B[2J\\u009B1m\\x7F"
RAW_CONTROLS = [chr(c) for c in range(0x20) if chr(c) not in "\n"] + ["\x7f", "\u009b"]


def holding_process(path, comm, lock=True):
    """A process named comm that holds path open (and locked, unless not), as another program would."""
    code = ("import ctypes, fcntl, os, sys, time\n"
            "ctypes.CDLL(None).prctl(15, sys.argv[2].encode(), 0, 0, 0)\n"
            "fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)\n"
            "if sys.argv[3] == 'lock': fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)\n"
            "print('held', flush=True)\n"
            "time.sleep(120)\n")
    proc = subprocess.Popen([sys.executable, "-c", code, os.path.realpath(path), comm, "lock" if lock else "open"],
                            stdout=subprocess.PIPE, text=True)
    assert proc.stdout.readline().strip() == "held"
    return proc


class TerminalSafeText(CliTest):
    def assertNoRawControls(self, text):
        self.assertFalse([c for c in RAW_CONTROLS if c in text], repr(text))

    def test_a_receivers_name_never_reaches_the_terminal_raw(self):
        sim = self.sim("f0", "--name", HOSTILE)
        # (command, arguments)
        cases = [("read", []), ("write", ["--name", "Calm"]), ("restore", [])]
        for command, args in cases:
            with self.subTest(command=command):
                result = korva(command, sim.link, *args)
                self.assertExit(result, 0)
                self.assertNoRawControls(result.stdout + result.stderr)
                self.assertIn(SHOWN, result.stdout)
        # JSON stays exact: the name as the receiver holds it.
        result, docs = korva_json("read", sim.link)
        self.assertEqual(docs[-1]["settings"]["name"], HOSTILE)

    def test_a_holders_name_and_a_documents_key_are_escaped(self):
        sim = self.sim("f0")
        holder = holding_process(sim.link, "\x1b]0;x\x07\x1b[2J")
        try:
            result = korva("detect", sim.link)
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        self.assertExit(result, 3, "in use by another program: \\x1B]0;x\\x07\\x1B[2J")
        self.assertNoRawControls(result.stdout + result.stderr)

        doc = os.path.join(self.tmp, "hostile.json")
        with open(doc, "w") as f:
            f.write('{"\\u001b]0;x\\u0007": 1}')
        result = korva("write", sim.link, "--from", doc)
        self.assertExit(result, 2, "\\x1B]0;x\\x07")
        self.assertNoRawControls(result.stdout + result.stderr)


class OneReceiverOneName(CliTest):
    def test_a_device_named_twice_is_refused_before_anything_is_sent(self):
        sim = self.sim("f0")
        other = os.path.join(self.tmp, "also")
        os.symlink(sim.link, other)
        # Two links, and a link with its target.
        for names in ([sim.link, other], [sim.link, os.path.realpath(sim.link)]):
            with self.subTest(names=names):
                result = korva("read", *names)
                self.assertExit(result, 2, "named twice")
        time.sleep(0.2)
        self.assertNotIn("< Cmd: ", sim.output(), "nothing reached the receiver")

    def test_scan_lists_a_device_once_and_skips_it_by_either_name(self):
        sim = self.sim("f2")
        target = os.path.realpath(sim.link)
        env = dict(os.environ, KORVA_EXTRA_PORTS=sim.link)
        result = korva("scan", target, "--all", "--json", env=env)
        self.assertExit(result, 0)
        ports = [e["port"] for e in json.loads(result.stdout)["ports"]]
        self.assertEqual([p for p in ports if os.path.realpath(p) == target], [sim.link], ports)

        before = sim.output()
        result = korva("scan", sim.link, "--skip", target, "--all", "--json")
        entries = [e for e in json.loads(result.stdout)["ports"] if os.path.realpath(e["port"]) == target]
        self.assertEqual([e["state"] for e in entries], ["skipped"], entries)
        time.sleep(0.2)
        self.assertEqual(sim.output(), before, "a skipped port is never probed")


class CheckedBeforeContact(CliTest):
    def write_file(self, name, data):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_nothing_checkable_waits_for_the_receiver(self):
        sim = self.sim("f0")
        env = dict(os.environ, KORVA_EXTRA_PORTS=sim.link)
        bad_name = self.write_file("bad.json", json.dumps({"name": "tab\there"}).encode())
        long_name = self.write_file("long.json", json.dumps({"settings": {"name": "x" * 40}, "ok": True}).encode())
        garbage = self.write_file("garbage.bin", os.urandom(4096))
        # (arguments, exit code, text); none may send a frame, with PORT or without (no scan either)
        cases = [
            (["write", sim.link, "--from", bad_name], 2, "not valid"),
            (["write", sim.link, "--from", long_name, "--pin", "1234"], 2, "40 bytes"),
            (["write", "--from", bad_name], 2, "not valid"),
            (["write", "--pin", "12"], 2, None),
            (["update", os.path.join(self.tmp, "absent.bin")], 2, "does not exist"),
            (["update", garbage], 6, "not compatible"),
        ]
        for args, code, text in cases:
            with self.subTest(args=args[:2]):
                result = korva(*args, env=env, timeout=30)
                self.assertExit(result, code, text)
                self.assertNotIn("only receiver found", result.stderr)
        time.sleep(0.2)
        self.assertNotIn("< Cmd: ", sim.output(), "nothing reached the receiver")


class ExitRequests(CliTest):
    def test_a_termination_signal_stops_every_port_not_yet_updating(self):
        for sig in (signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                updating = self.sim("f0", "--delay-ms", "5")
                detecting = self.sim("f0", "--delay-ms", "300")   # still detecting when the signal comes
                run = Started("update", updating.link, detecting.link, self.image("RULKO"), "--json")
                self.assertTrue(wait_for(run.progressed), run.lines)
                run.proc.send_signal(sig)
                self.assertEqual(run.finish(timeout=120), 130, run.err)

                doc = json.loads(run.lines[-1])
                self.assertEqual([r["exitCode"] for r in doc["results"]], [0, 130])
                self.assertIn(UPDATE_CLOSE, updating.output(), "the running transfer ran to its end")
                time.sleep(0.5)
                self.assertNotIn(UPDATE_BEGIN, detecting.output(), "no transfer began after the signal")
                updating.stop()
                detecting.stop()


class StalledOutput(CliTest):
    def test_a_log_keeps_acknowledging_while_its_output_stalls(self):
        sim = self.sim("f0", "--stream-events", "500")
        read_end, write_end = os.pipe()
        fcntl.fcntl(write_end, 1031, 4096)   # F_SETPIPE_SZ: a reader that stalls soon
        proc = subprocess.Popen([KORVA, "log", sim.link, "--family", "rulko"], stdout=write_end,
                                stderr=subprocess.PIPE)
        os.close(write_end)
        try:
            # Nobody reads (as `| less` at its first page, or Ctrl-S): events keep being acknowledged.
            acks = lambda: sim.output().count("< Ack: ")
            self.assertTrue(wait_for(lambda: acks() > 50, timeout=20))
            time.sleep(4)
            before = acks()
            self.assertTrue(wait_for(lambda: acks() > before + 500, timeout=20), "acknowledgements stopped")
            # The reader comes back: lines flow again.
            with os.fdopen(read_end, "rb") as reader:
                text = b""
                while len(text) < 20000:
                    chunk = reader.read1(65536)
                    if not chunk:
                        break
                    text += chunk
                proc.send_signal(signal.SIGINT)
                text += reader.read()
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertEqual(proc.wait(timeout=20), 130)
        err = proc.stderr.read().decode()
        proc.stderr.close()
        self.assertRegex(err, r"\d+ lines dropped while the output was stalled")
        self.assertRegex(err, r"\d+ lines dropped in all")
        self.assertIn(b"> Evt: ", text)


class LiveBoard(CliTest):
    def test_notes_follow_the_board_and_its_last_frame_shows_each_end(self):
        keeps_name = self.sim("f1", name="zvarnelo")
        full = self.sim("f0", name="rulko")
        code, text = run_on_terminal(["write", keeps_name.link, full.link, "--led", "on"])
        self.assertEqual(code, 0, text)

        note = "keeps only its name and PIN; not written: led"
        self.assertEqual(text.count(note), 1, text)
        # The board's frames: each redraw starts by moving the cursor up over the last one.
        last_frame_start = text.rfind("\x1b[2A")
        self.assertGreater(text.index(note), last_frame_start, "the note comes after the board")
        last_frame = text[last_frame_start:text.index(note)]
        rows = [r.split("\r")[-1].replace("\x1b[K", "") for r in last_frame.split("\n") if "  " in r]
        self.assertEqual(sorted(rows), sorted([keeps_name.link + "  done", full.link + "  done"]), repr(last_frame))


def line_settings(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        return termios.tcgetattr(fd)
    finally:
        os.close(fd)


class HeldPorts(CliTest):
    def test_a_port_held_without_a_lock_is_left_alone(self):
        sim = self.sim("f0")
        holder = holding_process(sim.link, "termprog", lock=False)
        try:
            before = line_settings(sim.link)
            env = dict(os.environ, KORVA_EXTRA_PORTS=sim.link)
            # (arguments, exit code, text)
            cases = [
                (["scan", "--all"], 4, f"{sim.link}  unavailable: in use by another program: termprog (process "),
                (["detect"], 2, f"{sim.link}  unavailable: in use by another program: termprog (process "),
                (["detect", sim.link], 3, f"in use by another program: termprog (process {holder.pid})"),
            ]
            for args, code, text in cases:
                with self.subTest(args=args):
                    self.assertExit(korva(*args, env=env, timeout=60), code, text)
            after = line_settings(sim.link)
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        time.sleep(0.2)
        self.assertNotIn("< Cmd: ", sim.output(), "nothing was sent to the held port")
        self.assertEqual(after, before, "its line settings are as the holder left them")

        # Once let go, the port is korva's again; the simulator's own end never counted as a holder.
        self.assertExit(korva("detect", sim.link), 0)

    def test_a_pty_stays_raw_for_the_receiver_at_its_other_end(self):
        # A serial device gets its line settings back when korva closes it; a
        # pty does not: its other end is the receiver's own program, and its
        # cooked modes would echo the receiver's bytes back to it and lose the
        # last acknowledgement. Here the pty starts cooked, with echo.
        sim = self.sim("f0")
        fd = os.open(sim.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        settings = termios.tcgetattr(fd)
        settings[3] |= termios.ICANON | termios.ECHO
        termios.tcsetattr(fd, termios.TCSANOW, settings)
        os.close(fd)

        for args in (["detect", sim.link], ["scan", sim.link], ["read", sim.link]):
            with self.subTest(args=args):
                self.assertExit(korva(*args), 0)
                self.assertEqual(line_settings(sim.link)[3] & (termios.ICANON | termios.ECHO), 0)
        time.sleep(0.3)
        self.assertNotIn("violation", sim.output().lower())


if __name__ == "__main__":
    unittest.main(verbosity=2)
