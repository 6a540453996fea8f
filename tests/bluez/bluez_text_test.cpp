// Port names of paired receivers and what BlueZ's errors mean for the user.

#include "jobs/PortFaultText.h"
#include "serial/BluezText.h"

#include <gtest/gtest.h>

#include <cstring>

TEST (BluetoothPortNames, AddressesRoundTripInAnyCase)
{
    EXPECT_EQ (bluetoothPortName ("00:1a:7d:da:71:13"), "bt:00:1A:7D:DA:71:13");

    struct Case { const char* name; const char* address; };   // address nullptr: not a Bluetooth name
    const Case cases[] = {
        { "bt:00:1A:7D:DA:71:13", "00:1A:7D:DA:71:13" },
        { "BT:00:1a:7d:da:71:13", "00:1A:7D:DA:71:13" },
        { "bt:00:1A:7D:DA:71",    nullptr },    // too short
        { "bt:00:1A:7D:DA:71:133", nullptr },   // too long
        { "bt:00-1A-7D-DA-71-13", nullptr },    // wrong separators
        { "bt:00:1A:7D:DA:71:1G", nullptr },    // not hexadecimal
        { "/dev/ttyUSB0",         nullptr },
        { "COM3",                 nullptr },
    };
    for (const auto& c : cases)
    {
        std::string address = "unchanged";
        EXPECT_EQ (bluetoothAddressOf (c.name, address), c.address != nullptr) << c.name;
        EXPECT_EQ (address, c.address != nullptr ? c.address : "unchanged") << c.name;
    }
    std::string address;
    EXPECT_FALSE (bluetoothAddressOf (nullptr, address));
}

TEST (BluetoothPortNames, SerialPortProfileInAnyCase)
{
    EXPECT_TRUE (isSerialPortProfile ("00001101-0000-1000-8000-00805F9B34FB"));
    EXPECT_FALSE (isSerialPortProfile ("0000110b-0000-1000-8000-00805f9b34fb"));   // an audio sink
}

TEST (BluezFaults, ErrorsMapToWhatTheUserCanDo)
{
    struct Case { const char* name; const char* message; PortFault fault; };
    const Case cases[] = {
        { "org.bluez.Error.Failed",   "Page Timeout",                    PortFault::receiverUnreachable },
        { "org.bluez.Error.Failed",   "Host is down",                    PortFault::receiverUnreachable },
        { "org.bluez.Error.Failed",   "br-connection-page-timeout",      PortFault::receiverUnreachable },
        { "org.bluez.Error.Failed",   "Connection refused (111)",        PortFault::receiverUnreachable },
        { "org.bluez.Error.Failed",   "Device or resource busy",         PortFault::linkBusy },
        { "org.bluez.Error.AlreadyConnected", "Already Connected",       PortFault::linkBusy },
        { "org.bluez.Error.NotReady", "Resource Not Ready",              PortFault::bluetoothOff },
        { "org.bluez.Error.Failed",   "br-connection-adapter-not-powered", PortFault::bluetoothOff },
        { "org.bluez.Error.DoesNotExist", "Does Not Exist",              PortFault::notPaired },
        { "org.freedesktop.DBus.Error.UnknownObject", "no such object",  PortFault::notPaired },
        { "org.freedesktop.DBus.Error.ServiceUnknown", "not provided",   PortFault::bluetoothUnavailable },
        { "org.freedesktop.DBus.Error.NoReply", "no reply",              PortFault::connectTimeout },
        { "org.bluez.Error.Failed",   "Input/output error",              PortFault::other },
    };
    for (const auto& c : cases)
        EXPECT_EQ (bluezConnectFault (c.name, c.message), c.fault) << c.name << ": " << c.message;
}

TEST (BluezFaults, MessagesSayWhatToDoAndQuoteBlueZ)
{
    PortOpenError e;
    e.fault = PortFault::receiverUnreachable;
    std::strcpy (e.holder, "Page Timeout");
    const auto text = portFaultText (e, "bt:00:1A:7D:DA:71:13", FaultAdvice::commandLine);
    EXPECT_NE (text.find ("(BlueZ: Page Timeout)"), std::string::npos) << text;
    EXPECT_NE (text.find ("Switch the receiver on and bring it within range, then run the command again."), std::string::npos) << text;

    e = PortOpenError {};
    e.fault = PortFault::bluetoothOff;
    EXPECT_NE (portFaultText (e, "bt:00:1A:7D:DA:71:13").find ("Turn Bluetooth on"), std::string::npos);
}
