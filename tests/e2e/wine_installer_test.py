"""The Windows installer under Wine, in a fresh prefix of its own: silent
installs per user and (Wine runs programs elevated) for all users, the
installed window application detecting the simulated receiver, korva.exe from
the install folder and from the PATH, an upgrade over an earlier version, and
uninstalls that leave no file or registry entry the install made; and the PATH
of either mode, short and long, kept entry for entry through install, upgrade
and uninstall.

Imported by wine_app_test.py, so scripts/wine-app-tests.sh runs it (or
`scripts/wine-app-tests.sh InstallerTest`). Needs KORVA_INSTALLER (the setup
.exe) and, to build an earlier version, KORVA_INSTALLER_NSI,
KORVA_INSTALLER_FILES and KORVA_INSTALLER_ICON (the script and what it packs)."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import desktop

INSTALLER = os.environ.get("KORVA_INSTALLER", "")
SIM = os.environ.get("KORVA_SIM", "")
WM_CLOSE = os.environ.get("KORVA_WM_CLOSE", "")
VERSION = re.search(r"-(\d+\.\d+\.\d+)-", os.path.basename(INSTALLER) or "-0.0.0-").group(1)
UNINST_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaBluetoothManager"
SYSTEM_ENV = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
USER_ENV = r"HKCU\Environment"
# The installer as released in 1.0.0, whose uninstaller upgrades still run.
RELEASED_NSI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "installer-1.0.0.nsi")
# PATH lengths around and far beyond the 1,024 characters of an NSIS string.
PATH_LENGTHS = (10, 1100, 5000, 20000)
# What Wine rewrites by itself when a program starts: its display devices and
# font cache; and the console defaults its console host writes when a console
# program first runs (the installer's PATH edit is one), a key Windows always has.
WINE_OWN_KEYS = re.compile(r"^hklm\\system\\currentcontrolset\\(enum|control\\class|control\\video)\\"
                           r"|\\software\\wine\\fonts$|^hkcu\\console$")
INSTALLED = {"korva-bluetooth-manager.exe", "korva.exe", "README.txt", "LICENSE.txt", "uninstall.exe"}


def read_registry(prefix):
    """{'HKCU\\key' or 'HKLM\\key' (lower case): {value name: data}} from the
    prefix's registry files, which the server writes when it exits."""
    keys = {}
    for file, root in (("user.reg", "HKCU"), ("system.reg", "HKLM")):
        with open(os.path.join(prefix, file), encoding="utf-8", errors="replace") as f:
            text = f.read().replace("\\\n  ", "")
        values = None
        for line in text.splitlines():
            section = re.match(r"^\[(.*)\] \d+", line)
            if section:
                name = root + "\\" + section.group(1).replace("\\\\", "\\")
                values = keys.setdefault(name.lower(), {})
            elif values is not None and (line.startswith('"') or line.startswith("@=")):
                m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
                if m:
                    values[m.group(1).strip('"').lower()] = m.group(2)
    return keys


def reg_string(data):
    """The text of a REG_SZ / REG_EXPAND_SZ value as stored in a .reg file."""
    m = re.match(r'^(?:str\(2\):)?"(.*)"$', data)
    assert m, data
    return m.group(1).replace('\\"', '"').replace("\\\\", "\\")


def reg_path(reg, env):
    """(type, text) of the PATH under env ("sz", "expand", or the raw data of
    another type), None if there is none."""
    data = reg.get(env.lower(), {}).get("path")
    if data is None:
        return None
    if data.startswith('str(2):"'):
        return "expand", reg_string(data)
    if data.startswith('"'):
        return "sz", reg_string(data)
    return data, ""


def other_entries(length, near):
    """A PATH of exactly length characters that does not name the install
    folder: %...% references, empty entries, a trailing backslash, and entries
    that only look like the folder (near it)."""
    path = "%WinDir%;;"
    if length > len(path):
        entries = [r"%SystemRoot%\system32", "", r"%SystemRoot%", r"C:\Tools\bin" + "\\",
                   near + r"\bin", near + "2", r"%USERPROFILE%\.cargo\bin"]
        i = 0
        while len(";".join(entries)) < length:
            entries.append(rf"C:\Tools\package-{i:05}\bin")
            i += 1
        path = ";".join(entries)
    return path[:length]


class InstallerTest(unittest.TestCase):
    # PATH steps for the report: (mode, length, scenario, [(step, other entries kept, type kept, our entry)])
    path_table = []
    @classmethod
    def setUpClass(cls):
        if not INSTALLER:
            raise unittest.SkipTest("KORVA_INSTALLER not set")
        cls.saved_env = dict(os.environ)
        cls.scratch = tempfile.mkdtemp(prefix="korva-installer-")
        cls.prefix = os.path.join(cls.scratch, "prefix")
        # No menu entries for the Linux desktop from the shortcuts made here.
        os.environ.update(WINEPREFIX=cls.prefix, WINEARCH="win64", WINEDEBUG="-all",
                          WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        cls.wine_log = open(os.path.join(cls.scratch, "wine.log"), "w")
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=cls.wine_log,
                       stderr=subprocess.STDOUT, timeout=300, check=True)
        cls.settle()
        # The COM links wine-app-tests.sh set aside, in this prefix too.
        for name, link in desktop.wine_ports():
            os.symlink(link, os.path.join(cls.prefix, "dosdevices", name.lower()))
            cls.wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", name, "/t", "REG_SZ", "/d", link, "/f")
        cls.settle()
        users = [u for u in os.listdir(os.path.join(cls.prefix, "drive_c", "users")) if u != "Public"]
        cls.profile = os.path.join(cls.prefix, "drive_c", "users", users[0])

    @classmethod
    def tearDownClass(cls):
        if cls.path_table:
            table = cls.format_path_table()
            print("\n" + table, file=sys.stderr)
            artifacts = os.environ.get("KORVA_ARTIFACTS")
            if artifacts:
                os.makedirs(artifacts, exist_ok=True)
                with open(os.path.join(artifacts, "installer-path.txt"), "w") as f:
                    f.write(table + "\n")
        subprocess.run(["wineserver", "-k"], check=False)
        cls.wine_log.close()
        os.environ.clear()
        os.environ.update(cls.saved_env)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def wine(cls, *args, check=True, timeout=120):
        return subprocess.run(["wine"] + list(args), stdin=subprocess.DEVNULL, stdout=cls.wine_log,
                              stderr=subprocess.STDOUT, timeout=timeout, check=check).returncode

    @classmethod
    def start_server(cls):
        """A server whose output goes to the log: a COM port's pty becomes its
        controlling terminal, and the simulator's hang-up makes it dump its
        objects. It stays 3 s after its last program, as one Wine starts would."""
        subprocess.run(["wineserver", "-p3"], stdout=cls.wine_log, stderr=subprocess.STDOUT, check=True)

    @staticmethod
    def settle():
        """Waits until every Wine process of the prefix has ended and the
        server has written the registry out."""
        subprocess.run(["wineserver", "-w"], check=True, timeout=120)

    def unix_path(self, windows_path):
        drive, rest = windows_path.split(":", 1)
        self.assertEqual(drive.upper(), "C", windows_path)
        return os.path.join(self.prefix, "drive_c", *[p for p in rest.split("\\") if p])

    def snapshot(self):
        """Every file and folder of drive C:, and the registry. The temporary
        folders are left out: an NSIS uninstaller runs from a copy of itself
        there, which Windows deletes at the next restart."""
        self.settle()
        paths = set()
        root = os.path.join(self.prefix, "drive_c")
        for folder, dirs, files in os.walk(root):
            rel = os.path.relpath(folder, root)
            dirs[:] = [d for d in dirs if d.lower() != "temp"]
            paths.update(os.path.join(rel, n) for n in dirs + files)
        return paths, read_registry(self.prefix)

    def assert_back_to(self, before, installed):
        """Nothing the install added or changed is left: no file or folder, no
        registry key, every value as before."""
        files_before, reg_before = before
        files_installed, reg_installed = installed
        files_after, reg_after = self.snapshot()
        self.assertEqual(sorted((files_installed - files_before) & files_after), [], "files left behind")
        for key, values in reg_installed.items():
            if WINE_OWN_KEYS.match(key):
                continue
            if key not in reg_before:
                self.assertFalse(key in reg_after, f"registry key left behind: {key} {values}")
                continue
            for name, data in values.items():
                if reg_before[key].get(name) != data:
                    self.assertEqual(reg_after.get(key, {}).get(name), reg_before[key].get(name),
                                     f"registry value {key} {name} not restored")

    def install(self, *args, installer=INSTALLER):
        self.addCleanup(self.remove_leftovers)
        self.assertEqual(self.wine(installer, "/S", *args), 0, "installer exit status")
        self.settle()

    def remove_leftovers(self):
        """After a failed test: uninstalls what it left, so the next test starts clean."""
        _, reg = self.snapshot()
        for root in ("HKCU", "HKLM"):
            if f"{root}\\{UNINST_KEY}".lower() in reg:
                self.uninstall(reg, root)

    def uninstall(self, reg, root):
        """Runs the uninstaller as "Apps & features" does, silently."""
        quiet = reg_string(reg[f"{root}\\{UNINST_KEY}".lower()]["quietuninstallstring"])
        exe, args = re.match(r'^"([^"]+)"\s*(.*)$', quiet).groups()
        self.assertTrue(os.path.isfile(self.unix_path(exe)), exe)
        self.wine(exe, *args.split())
        self.settle()

    def check_entry(self, reg, root):
        """The "Apps & features" entry under root, and the install folder it names."""
        entry = reg.get(f"{root}\\{UNINST_KEY}".lower())
        self.assertIsNotNone(entry, f"no uninstall entry under {root}")
        other = {"HKCU": "HKLM", "HKLM": "HKCU"}[root]
        self.assertFalse(f"{other}\\{UNINST_KEY}".lower() in reg, f"an entry under {other} too")
        self.assertEqual(reg_string(entry["displayname"]), "Korva Bluetooth Manager")
        self.assertEqual(reg_string(entry["displayversion"]), VERSION)
        self.assertEqual(reg_string(entry["publisher"]), "Korva Bluetooth Manager developers")
        folder = reg_string(entry["installlocation"])
        self.assertEqual(reg_string(entry["uninstallstring"]), f'"{folder}\\uninstall.exe"')
        self.assertEqual(reg_string(entry["displayicon"]), f'"{folder}\\korva-bluetooth-manager.exe",0')
        self.assertEqual(set(os.listdir(self.unix_path(folder))), INSTALLED)
        return folder

    def check_shortcut(self, programs, folder):
        """A Start-menu shortcut that starts the installed program and takes its icon."""
        lnk = os.path.join(programs, "Korva Bluetooth Manager.lnk")
        self.assertTrue(os.path.isfile(lnk), lnk)
        with open(lnk, "rb") as f:
            data = f.read()
        exe = f"{folder}\\korva-bluetooth-manager.exe"
        # Target and icon location, each stored as the exe's path.
        self.assertGreaterEqual(data.count(exe.encode("utf-16-le")) + data.count(exe.encode("latin-1")), 2,
                                "target and icon of the shortcut")

    def korva_detects(self, korva):
        """korva.exe (a path, or a name found on the PATH) detects a simulated Rulko."""
        name, link = desktop.wine_ports()[1]
        self.start_server()
        log = open(os.path.join(self.scratch, "sim-cli.log"), "w")
        sim = subprocess.Popen([SIM, "--type", "f0", "--link", link], stdout=log, stderr=subprocess.STDOUT)
        try:
            desktop.wait_for(lambda: os.path.exists(link), what="simulator pty")
            out = desktop.wine_run("cmd", "/c", korva, "detect", name, "--family", "rulko")
            self.assertRegex(out, r"model\s+Rulko")
        finally:
            sim.kill()
            sim.wait()
            log.close()
            if os.path.islink(link):
                os.unlink(link)

    def window_detects(self, exe):
        """The installed window application starts and detects a simulated Rulko."""
        self.start_server()
        session = desktop.Session(exe, SIM, ["--type", "f0", "--name", "Kitchen"])
        try:
            window = session.window
            time.sleep(0.5)
            desktop.choose_port(window, session.port_name)
            desktop.answer_box("Device type", "right")
            desktop.answer_box("Korva Bluetooth device found", "only")
            desktop.wait_for(lambda: desktop.geometry(window)[3] == 437, timeout=20, what="the Rulko form")
            desktop.screenshot("wine-installed-form", window)
            subprocess.run([WM_CLOSE, str(window)], check=True)
            self.assertEqual(session.app.wait(timeout=30), 0)
        finally:
            session.close()
        self.settle()

    def test_per_user_install_runs_and_uninstalls_clean(self):
        before = self.snapshot()
        self.install("/CurrentUser")
        installed = self.snapshot()
        reg = installed[1]
        folder = self.check_entry(reg, "HKCU")
        self.assertEqual(self.unix_path(folder),
                         os.path.join(self.profile, "AppData", "Local", "Programs", "Korva Bluetooth Manager"))
        self.check_shortcut(os.path.join(self.profile, "AppData", "Roaming", "Microsoft", "Windows",
                                         "Start Menu", "Programs"), folder)

        self.window_detects(self.unix_path(folder + "\\korva-bluetooth-manager.exe"))
        self.korva_detects(folder + "\\korva.exe")
        version = desktop.wine_run(self.unix_path(folder + "\\korva.exe"), "--version")
        self.assertIn(f"korva {VERSION}", version)

        self.uninstall(reg, "HKCU")
        self.assert_back_to(before, installed)

    def test_elevated_install_is_for_all_users_with_folder_and_path(self):
        # Wine runs programs elevated, so the default here is all users.
        before = self.snapshot()
        path_before = before[1][SYSTEM_ENV.lower()]["path"]
        # /D= takes the rest of the command line as it is, and Wine quotes an
        # argument with a space: a folder without one.
        self.install("/AddToPath", r"/D=C:\KorvaTools")
        installed = self.snapshot()
        reg = installed[1]
        folder = self.check_entry(reg, "HKLM")
        self.assertEqual(folder, r"C:\KorvaTools")
        self.check_shortcut(os.path.join(self.prefix, "drive_c", "ProgramData", "Microsoft", "Windows",
                                         "Start Menu", "Programs"), folder)
        path = reg_string(reg[SYSTEM_ENV.lower()]["path"])
        self.assertEqual(path, reg_string(path_before) + r";C:\KorvaTools")

        # A new console finds korva on the PATH.
        self.korva_detects("korva")

        self.uninstall(reg, "HKLM")
        self.assert_back_to(before, installed)
        self.assertEqual(self.snapshot()[1][SYSTEM_ENV.lower()]["path"], path_before)

    def earlier_installer(self):
        """An installer for an earlier version that also installed a file this
        version no longer has."""
        nsi = os.path.join(self.scratch, "earlier.nsi")
        with open(os.environ["KORVA_INSTALLER_NSI"]) as f:
            script = f.read()
        script = script.replace('    File "${FILES}\\LICENSE.txt"\n',
                                '    File "${FILES}\\LICENSE.txt"\n    File "/oname=CHANGES.txt" "${FILES}\\README.txt"\n')
        script = script.replace('    Delete "$INSTDIR\\LICENSE.txt"\n',
                                '    Delete "$INSTDIR\\LICENSE.txt"\n    Delete "$INSTDIR\\CHANGES.txt"\n')
        self.assertIn("CHANGES.txt", script)
        with open(nsi, "w") as f:
            f.write(script)
        out = os.path.join(self.scratch, "korva-bluetooth-manager-0.9.0-windows-x64-setup.exe")
        subprocess.run(["makensis", "-V1", "-DVERSION=0.9.0", "-DFILES=" + os.environ["KORVA_INSTALLER_FILES"],
                        "-DICON=" + os.environ["KORVA_INSTALLER_ICON"], "-DOUTFILE=" + out, nsi],
                       check=True, capture_output=True)
        return out

    def test_upgrade_leaves_nothing_of_the_earlier_version(self):
        earlier = self.earlier_installer()
        before = self.snapshot()
        self.install("/CurrentUser", "/AddToPath", installer=earlier)
        installed = self.snapshot()
        reg = installed[1]
        entry = reg[f"HKCU\\{UNINST_KEY}".lower()]
        self.assertEqual(reg_string(entry["displayversion"]), "0.9.0")
        folder = reg_string(entry["installlocation"])
        self.assertIn("CHANGES.txt", os.listdir(self.unix_path(folder)))

        # The upgrade, silent and without options: same folder, PATH kept once.
        self.install("/CurrentUser")
        _, reg = self.snapshot()
        self.assertEqual(self.check_entry(reg, "HKCU"), folder)
        path = reg_string(reg[r"hkcu\environment"]["path"])
        self.assertEqual(path.split(";").count(folder), 1, path)
        self.check_shortcut(os.path.join(self.profile, "AppData", "Roaming", "Microsoft", "Windows",
                                         "Start Menu", "Programs"), folder)

        self.uninstall(reg, "HKCU")
        self.assert_back_to(before, installed)

    # --- the PATH ------------------------------------------------------------

    def set_path(self, env, value):
        """Sets the PATH under env to (type, text), or removes it (None), as
        bytes through a .reg file: no command line or quoting in between."""
        root, key = env.split("\\", 1)
        if value is None:
            data = "-"
        else:
            kind, text = value
            raw = (text + "\0").encode("utf-16-le")
            data = "hex(%d):" % {"sz": 1, "expand": 2}[kind] + ",\\\n  ".join(
                ",".join("%02x" % b for b in raw[i:i + 32]) for i in range(0, len(raw), 32))
        full = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}[root]
        reg_file = os.path.join(self.scratch, "path.reg")
        # UTF-16, as regedit writes: its hex(2) data is then UTF-16 too.
        with open(reg_file, "w", encoding="utf-16", newline="\r\n") as f:
            f.write(f'Windows Registry Editor Version 5.00\n\n[{full}\\{key}]\n"Path"={data}\n')
        self.wine("regedit", "/S", "Z:" + reg_file.replace("/", "\\"))
        self.settle()
        self.assertEqual(reg_path(read_registry(self.prefix), env), value, "PATH set for the test")

    def path_step(self, steps, step, env, kind, others, folder):
        """Records after one step whether every other entry of the PATH is as
        it was, byte for byte and with its type, and how often ours is there."""
        _, reg = self.snapshot()
        kind_after, text = reg_path(reg, env) or (None, "")
        entries = text.split(";") if text else []
        ours = entries.count(folder)
        kept = [e for e in entries if e != folder] == others.split(";")
        steps.append((step, kept, kind_after == kind, {0: "absent", 1: "present"}.get(ours, f"{ours} times")))

    @classmethod
    def format_path_table(cls):
        lines = ["| mode | PATH length | scenario | step | other entries byte-identical | type kept | our entry |",
                 "|---|---|---|---|---|---|---|"]
        for mode, length, scenario, steps in cls.path_table:
            for step, kept, typed, ours in steps:
                lines.append(f"| {mode} | {length:,} | {scenario} | {step} | {'yes' if kept else 'NO'} "
                             f"| {'yes' if typed else 'NO'} | {ours} |")
        return "\n".join(lines)

    def check_path_steps(self, rows):
        """Every step kept the other entries; ours is there once after an
        install or upgrade, gone after the uninstall."""
        wanted = {"install": "present", "upgrade": "present", "uninstall": "absent"}
        bad = [(mode, length, scenario, step) for mode, length, scenario, steps in rows
               for step, kept, typed, ours in steps if not (kept and typed and ours == wanted[step])]
        self.assertEqual(bad, [], "\n" + "\n".join(f"{r}" for r in rows))

    def path_matrix(self, mode, env, install_args, upgrade_args, near):
        """For each PATH length: an install that puts the folder on the PATH, an
        upgrade keeping it there, and the uninstall; then an upgrade over the
        released 1.0.0, installed while the PATH was short, after the PATH grew."""
        root = env.split("\\")[0]
        saved = reg_path(read_registry(self.prefix), env)
        self.addCleanup(self.set_path, env, saved)
        released = self.released_installer()
        rows = type(self).path_table
        first_row = len(rows)
        for length in PATH_LENGTHS:
            # Per-user PATHs of both types; the system's is REG_EXPAND_SZ.
            kind = "sz" if env == USER_ENV and length in (10, 5000) else "expand"
            others = other_entries(length, near)
            steps = []
            self.set_path(env, (kind, others))
            self.install("/AddToPath", *install_args)
            _, reg = self.snapshot()
            folder = reg_string(reg[f"{root}\\{UNINST_KEY}".lower()]["installlocation"])
            self.path_step(steps, "install", env, kind, others, folder)
            self.install(*upgrade_args)
            self.path_step(steps, "upgrade", env, kind, others, folder)
            self.uninstall(self.snapshot()[1], root)
            self.path_step(steps, "uninstall", env, kind, others, folder)
            rows.append((mode, length, "install, upgrade, uninstall", steps))

            if length > 1024:
                steps = []
                self.set_path(env, (kind, other_entries(10, near)))
                self.install("/AddToPath", *install_args, installer=released)
                # Programs installed later add their folders after ours.
                first, rest = others.split(";", 1)
                self.set_path(env, (kind, f"{first};{folder};{rest}"))
                self.install(*upgrade_args)
                self.path_step(steps, "upgrade", env, kind, others, folder)
                self.uninstall(self.snapshot()[1], root)
                self.path_step(steps, "uninstall", env, kind, others, folder)
                rows.append((mode, length, "upgrade over 1.0.0 after the PATH grew", steps))
            self.set_path(env, saved)
        self.check_path_steps(rows[first_row:])

    def released_installer(self):
        out = os.path.join(self.scratch, "korva-bluetooth-manager-1.0.0-windows-x64-setup.exe")
        if not os.path.exists(out):
            subprocess.run(["makensis", "-V1", "-DVERSION=1.0.0", "-DFILES=" + os.environ["KORVA_INSTALLER_FILES"],
                            "-DICON=" + os.environ["KORVA_INSTALLER_ICON"], "-DOUTFILE=" + out, RELEASED_NSI],
                           check=True, capture_output=True)
        return out

    def test_per_user_path_keeps_every_other_entry(self):
        folder = r"C:\users\%s\AppData\Local\Programs\Korva Bluetooth Manager" % os.path.basename(self.profile)
        self.path_matrix("per user", USER_ENV, ["/CurrentUser"], ["/CurrentUser"], folder)

    def test_system_path_keeps_every_other_entry(self):
        # /D= without a space: see the elevated install above.
        self.path_matrix("all users", SYSTEM_ENV, ["/AllUsers", r"/D=C:\KorvaTools"], ["/AllUsers"], r"C:\KorvaTools")
