'''A stand-in for BlueZ on a private system bus, written from BlueZ's documented
D-Bus API: python-dbusmock's bluez5 template (adapters, devices) plus the
serial-port profile path a client uses:

- org.bluez.ProfileManager1.RegisterProfile records the caller's profile object;
- org.bluez.Device1.ConnectProfile calls the caller's Profile1.NewConnection with
  one end of a socket pair whose other end a korva-sim process serves, and answers
  only after NewConnection has answered, as BlueZ does; or fails as a receiver that
  is off, out of range or taken fails.

Test control (org.bluez.Mock on /): AddAdapter, SetPowered, AddReceiver,
AddHeadphones, Unpair; RemoveDevice is the adapter's own.
'''

import os
import atexit
import socket
import subprocess
import time

import dbus
import dbus.service
from gi.repository import GLib

from dbusmock import OBJECT_MANAGER_IFACE, mockobject
from dbusmock.templates import bluez5
from dbusmock.templates.bluez5 import AddAdapter, RemoveAdapter  # noqa: F401 (exported to the mock)

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MOCK_IFACE = 'org.bluez.Mock'
DEVICE_IFACE = 'org.bluez.Device1'
ADAPTER_IFACE = 'org.bluez.Adapter1'
PROFILE_MANAGER_IFACE = 'org.bluez.ProfileManager1'
SPP = '00001101-0000-1000-8000-00805f9b34fb'
A2DP_SINK = '0000110b-0000-1000-8000-00805f9b34fb'

SIM = os.environ.get('KORVA_SIM', 'korva-sim')
LOG_DIR = os.environ.get('BLUEZ_STANDIN_LOGS', '/tmp')

# sender -> profile object path, from RegisterProfile (role client, serial port)
profiles = {}

# The simulated receivers, ended with the stand-in.
sims = []
atexit.register(lambda: [p.terminate() for p in sims])


def install(obj, iface, name, in_sig, out_sig, func):
    '''A method that knows its caller and may answer later (dbusmock's own have neither).'''
    method = dbus.service.method(iface, in_signature=in_sig, out_signature=out_sig,
                                 sender_keyword='sender', async_callbacks=('ok', 'err'))(func)
    obj.methods.setdefault(iface, {})[name] = (in_sig, out_sig, func, method)


def error(name, text):
    return dbus.exceptions.DBusException(text, name=name)


def register_profile(manager, path, uuid, options, sender=None, ok=None, err=None):
    manager.log(f'RegisterProfile {path} {uuid} {dict(options)} from {sender}')
    if str(uuid).lower() != SPP or str(options.get('Role', '')) != 'client':
        err(error('org.bluez.Error.InvalidArguments', 'Invalid arguments in method call'))
        return
    if profiles.get(sender) == str(path):
        err(error('org.bluez.Error.AlreadyExists', 'Already Exists'))
        return
    profiles[sender] = str(path)
    ok()


def unregister_profile(manager, path, sender=None, ok=None, err=None):
    profiles.pop(sender, None)
    ok()


def set_connected(device, connected):
    device.props[DEVICE_IFACE]['Connected'] = dbus.Boolean(connected, variant_level=1)
    device.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [
        DEVICE_IFACE, {'Connected': dbus.Boolean(connected, variant_level=1)}, []])


def connect_profile(device, uuid, sender=None, ok=None, err=None):
    device.log(f'ConnectProfile {uuid} from {sender}')
    adapter = mockobject.objects[str(device.props[DEVICE_IFACE]['Adapter'])]
    behaviour, delay_ms, sim_args = device.receiver

    if not adapter.props[ADAPTER_IFACE]['Powered']:
        err(error('org.bluez.Error.NotReady', 'Resource Not Ready'))
        return
    if str(uuid).lower() != SPP or SPP not in [str(u) for u in device.props[DEVICE_IFACE]['UUIDs']]:
        err(error('org.bluez.Error.NotAvailable', 'Operation currently not available'))
        return
    if sender not in profiles:
        err(error('org.bluez.Error.DoesNotExist', 'Does Not Exist'))
        return

    failures = {
        'off': ('org.bluez.Error.Failed', 'Page Timeout'),
        'down': ('org.bluez.Error.Failed', 'Host is down'),
        'taken': ('org.bluez.Error.Failed', 'Device or resource busy'),
    }
    if behaviour in failures:
        name, text = failures[behaviour]
        GLib.timeout_add(delay_ms, lambda: (err(error(name, text)), False)[1])
        return
    if behaviour == 'never':
        return   # the connection never comes up and BlueZ never answers

    # The receiver keeps running between connections (korva-sim --listen): each
    # connection is a socket pair of its own, made by connecting to it.
    ours = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        ours.connect(device.listen_path)
    except OSError:
        ours.close()
        GLib.timeout_add(delay_ms, lambda: (err(error('org.bluez.Error.Failed', 'Host is down')), False)[1])
        return

    profile = dbus.Interface(device.connection.get_object(sender, profiles[sender], introspect=False),
                             'org.bluez.Profile1')

    def handed_over():
        device.client = profile
        ours.close()
        set_connected(device, True)
        ok()

    def refused(e):
        ours.close()
        err(error('org.bluez.Error.Failed', 'Connection refused by the profile: ' + str(e)))

    def send():
        profile.NewConnection(dbus.ObjectPath(device.__dbus_object_path__), dbus.types.UnixFd(ours.fileno()),
                              dbus.Dictionary({}, signature='sv'),
                              reply_handler=handed_over, error_handler=refused)
        return False

    GLib.timeout_add(delay_ms, send)


def disconnect_profile(device, uuid, sender=None, ok=None, err=None):
    device.log(f'DisconnectProfile {uuid} from {sender}')
    device.disconnects += 1
    set_connected(device, False)
    ok()


def load(mock, parameters):
    bluez5.load(mock, parameters)
    install(mockobject.objects['/org/bluez'], PROFILE_MANAGER_IFACE, 'RegisterProfile', 'osa{sv}', '', register_profile)
    install(mockobject.objects['/org/bluez'], PROFILE_MANAGER_IFACE, 'UnregisterProfile', 'o', '', unregister_profile)


def add_device(manager, adapter_name, address, alias, uuids, behaviour, delay_ms, sim_args):
    path = bluez5.AddDevice(manager, adapter_name, address, alias)
    device = mockobject.objects[path]
    device.receiver = (str(behaviour), int(delay_ms), [str(a) for a in sim_args])
    device.listen_path = os.path.join(LOG_DIR, 'sim-' + address.replace(':', '') + '.sock')
    if behaviour == 'answer':
        log = open(os.path.join(LOG_DIR, 'sim-' + address.replace(':', '') + '.log'), 'a')
        sims.append(subprocess.Popen([SIM, '--listen', device.listen_path, *device.receiver[2]],
                                     stdout=log, stderr=subprocess.STDOUT))
        log.close()
        while not os.path.exists(device.listen_path) and sims[-1].poll() is None:
            time.sleep(0.01)
    device.disconnects = 0
    install(device, DEVICE_IFACE, 'ConnectProfile', 's', '', connect_profile)
    install(device, DEVICE_IFACE, 'DisconnectProfile', 's', '', disconnect_profile)
    device.client = None
    device.AddMethods(MOCK_IFACE, [
        ('Disconnects', '', 'i', 'ret = self.disconnects'),
        # BlueZ asks the client to end the connection (the device is being removed, say).
        ('RequestDisconnection', '', '',
         'self.client.RequestDisconnection(dbus.ObjectPath(self.__dbus_object_path__), '
         'reply_handler=lambda: None, error_handler=lambda e: None)'),
    ])

    # Paired, as the desktop's Bluetooth settings leave it.
    device.paired = True
    changed = {'Paired': dbus.Boolean(True, variant_level=1),
               'UUIDs': dbus.Array(uuids, signature='s', variant_level=1)}
    device.props[DEVICE_IFACE].update(changed)
    device.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [DEVICE_IFACE, changed, []])
    return path


@dbus.service.method(MOCK_IFACE, in_signature='ssssias', out_signature='s')
def AddReceiver(self, adapter_name, address, alias, behaviour, delay_ms, sim_args):
    '''A paired receiver offering the serial port. behaviour: "answer" (korva-sim with
    sim_args serves the connection), "off", "down", "taken" (fail after delay_ms), "never".'''
    return add_device(self, adapter_name, address, alias, [SPP, '00001200-0000-1000-8000-00805f9b34fb'],
                      behaviour, delay_ms, sim_args)


@dbus.service.method(MOCK_IFACE, in_signature='sss', out_signature='s')
def AddHeadphones(self, adapter_name, address, alias):
    '''A paired device without the serial port.'''
    return add_device(self, adapter_name, address, alias, [A2DP_SINK], 'off', 0, [])


@dbus.service.method(MOCK_IFACE, in_signature='sb', out_signature='')
def SetPowered(_self, adapter_name, powered):
    adapter = mockobject.objects['/org/bluez/' + adapter_name]
    adapter.props[ADAPTER_IFACE]['Powered'] = dbus.Boolean(powered, variant_level=1)
    adapter.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [
        ADAPTER_IFACE, {'Powered': dbus.Boolean(powered, variant_level=1)}, []])


@dbus.service.method(MOCK_IFACE, in_signature='o', out_signature='')
def Unpair(_self, path):
    device = mockobject.objects[str(path)]
    device.props[DEVICE_IFACE]['Paired'] = dbus.Boolean(False, variant_level=1)
    device.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [
        DEVICE_IFACE, {'Paired': dbus.Boolean(False, variant_level=1)}, []])


_ = OBJECT_MANAGER_IFACE
