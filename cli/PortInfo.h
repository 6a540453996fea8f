#pragma once
// What the system knows about a listed port beyond its name: on Linux, sysfs
// tells the USB adapter (vendor, product, serial number), the driver, and
// whether it is a Bluetooth RFCOMM link. Elsewhere nothing is known.

#include <string>

namespace korvacli
{
    struct PortInfo
    {
        std::string driver;         // kernel driver of the device ("ftdi_sio", "cdc_acm", ...)
        std::string usbVendor;      // four hex digits, "" when not a USB device
        std::string usbProduct;
        std::string usbSerial;
        std::string manufacturer;   // the USB device's own strings
        std::string product;
        bool rfcomm = false;        // a Bluetooth serial link
    };

    /** What sysClassTty (normally /sys/class/tty) knows about the device path. */
    PortInfo portInfo (const std::string& devicePath, const std::string& sysClassTty = "/sys/class/tty");
}
