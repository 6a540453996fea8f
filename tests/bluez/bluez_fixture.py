"""A private system bus with the BlueZ stand-in on it, for tests that reach
receivers through BlueZ. Processes started get DBUS_SYSTEM_BUS_ADDRESS."""

import os
import signal
import subprocess
import sys
import time

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATE = os.path.join(HERE, "bluez_standin.py")


class BluezStandIn:
    def __init__(self, tmp, with_bluez=True):
        self.tmp = tmp
        socket_path = os.path.join(tmp, "system_bus")
        self.address = "unix:path=" + socket_path
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                        "--address=" + self.address],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.mock = None
        self.bus = None
        deadline = time.monotonic() + 10
        while self.bus is None:
            try:
                self.bus = dbus.bus.BusConnection(self.address)
            except dbus.exceptions.DBusException:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.02)
        if with_bluez:
            self.start_bluez()

    def env(self, base=None):
        env = dict(base if base is not None else os.environ)
        env["DBUS_SYSTEM_BUS_ADDRESS"] = self.address
        return env

    def start_bluez(self):
        env = self.env()
        env["BLUEZ_STANDIN_LOGS"] = self.tmp
        self.mock_log = open(os.path.join(self.tmp, "bluez.log"), "a")
        # A session of its own: the simulated receivers it starts go with it.
        self.mock = subprocess.Popen([sys.executable, "-m", "dbusmock", "--system", "-t", TEMPLATE],
                                     env=env, stdout=self.mock_log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        deadline = time.monotonic() + 20
        while not self.bus.name_has_owner("org.bluez"):
            if time.monotonic() > deadline or self.mock.poll() is not None:
                raise RuntimeError("the BlueZ stand-in did not start")
            time.sleep(0.02)
        self.control = dbus.Interface(self.bus.get_object("org.bluez", "/"), "org.bluez.Mock")

    def stop_bluez(self):
        if self.mock is not None:
            self.mock.terminate()
            self.mock.wait(timeout=10)
            try:
                os.killpg(self.mock.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.mock_log.close()
            self.mock = None

    def add_adapter(self, name="hci0"):
        return self.control.AddAdapter(name, "korva-test")

    def add_receiver(self, address, alias, behaviour="answer", delay_ms=0, sim_args=(), adapter="hci0"):
        return self.control.AddReceiver(adapter, address, alias, behaviour, delay_ms, list(sim_args), signature="ssssias")

    def add_headphones(self, address, alias, adapter="hci0"):
        return self.control.AddHeadphones(adapter, address, alias)

    def remove(self, path, adapter="hci0"):
        dbus.Interface(self.bus.get_object("org.bluez", "/org/bluez/" + adapter), "org.bluez.Adapter1").RemoveDevice(path)

    def set_powered(self, powered, adapter="hci0"):
        self.control.SetPowered(adapter, powered)

    def request_disconnection(self, path):
        dbus.Interface(self.bus.get_object("org.bluez", path), "org.bluez.Mock").RequestDisconnection()

    def disconnects(self, path):
        return int(dbus.Interface(self.bus.get_object("org.bluez", path), "org.bluez.Mock").Disconnects())

    def sim_log(self, address):
        path = os.path.join(self.tmp, "sim-" + address.replace(":", "") + ".log")
        if not os.path.exists(path):
            return ""
        with open(path) as f:
            return f.read()

    def close(self):
        self.stop_bluez()
        self.bus.close()
        self.daemon.terminate()
        self.daemon.wait(timeout=10)
