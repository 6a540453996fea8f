#pragma once
// Paired Bluetooth receivers through BlueZ's D-Bus API on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS is honoured), as an ordinary user: no rfcomm, no root.
//
// One thread of its own owns the bus connection. It keeps a copy of BlueZ's
// adapters and devices, follows their signals, and serves the serial-port
// client profile through which BlueZ hands over a connected socket. Callers on
// other threads only read the copy or wait for a connection.

#include "serial/PortTable.h"

#include <memory>
#include <string>
#include <vector>

struct BluetoothDevice
{
    std::string address;          // "00:11:22:AA:BB:CC"
    std::string alias;            // the name the user knows it by
    bool paired = false;
    bool connected = false;
    bool serialPort = false;      // offers the Serial Port Profile
    bool adapterPowered = true;   // the adapter it belongs to is switched on
};

struct BluetoothConnection
{
    int fd = -1;                  // the connected socket, owned by the caller
    PortFault fault = PortFault::none;
    std::string detail;           // BlueZ's own words, for the event log
};

class BluezBus
{
public:
    /** The process-wide instance; its thread starts on first use and lives until the process ends. */
    static BluezBus& instance();

    /** The paired devices that offer the serial port, ordered by address. The first
        call waits briefly for BlueZ's first answer; later calls only read the copy. */
    std::vector<BluetoothDevice> pairedSerialDevices();

    /** The known device with address; false when BlueZ does not know it (or is absent). */
    bool findDevice (const std::string& address, BluetoothDevice& device);

    /** Connects the serial port of the device with address through BlueZ and returns
        the socket, or the fault. Gives up after timeoutMs, and once cancelled() turns
        true and wakeConnecting() is called. */
    BluetoothConnection connect (const std::string& address, int timeoutMs, bool (*cancelled)());

    /** Any thread: connect() calls in progress look at their cancelled() again. Does
        nothing (and starts no bus) before the instance is first used. */
    static void wakeConnecting();

    /** The connection to address was closed: tells BlueZ to end the profile's
        connection (waits a moment for the request to leave). */
    void disconnect (const std::string& address);

    struct Impl;

private:
    BluezBus();
    std::unique_ptr<Impl> impl;
};

/** How long a Bluetooth connection may take to come up. */
constexpr int bluetoothConnectLimitMs = 20000;
