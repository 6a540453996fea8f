#pragma once
// The pure parts of reaching Bluetooth receivers through BlueZ: the port names
// made from device addresses, and what BlueZ's connection errors mean for the
// user. Built everywhere, so they are tested everywhere.

#include "serial/PortTable.h"

#include <string>

/** The Serial Port Profile's UUID, as BlueZ lists it in a device's UUIDs. */
constexpr const char* serialPortProfileUuid = "00001101-0000-1000-8000-00805f9b34fb";

/** Port names of paired receivers start with this: "bt:00:11:22:AA:BB:CC". */
constexpr const char* bluetoothPortPrefix = "bt:";

/** The port name for a device address ("bt:" and the address in capitals). */
std::string bluetoothPortName (const std::string& address);

/** True when name is a Bluetooth port name (any case); address gets the device
    address in capitals, as BlueZ writes it. */
bool bluetoothAddressOf (const char* name, std::string& address);

/** True when uuid is the Serial Port Profile's (any case). */
bool isSerialPortProfile (const std::string& uuid);

/** The fault a failed Device1.ConnectProfile (or RegisterProfile) stands for,
    from the D-Bus error's name and message. */
PortFault bluezConnectFault (const std::string& errorName, const std::string& message);
