#pragma once
// What the system says about a serial port beyond its name, read without
// opening it: the USB adapter behind it, a built-in UART, a Bluetooth link and
// its direction, a pseudo-terminal, the system's console. Read once when a
// port appears (the 1 s refresh costs nothing), on Linux from sysfs, on Windows
// from SetupAPI; a port the system says nothing about has an empty description.

#include <cstdint>
#include <string>

enum class PortKind : uint8_t
{
    unknown,
    usb,              // a USB serial adapter (FTDI, CP210x, CDC ACM, ...)
    uart,             // a serial port built into the machine
    bluetooth,        // a Bluetooth serial link (RFCOMM; on Windows the SPP ports)
    pseudoTerminal    // a pty: another program at the other end (a simulator, a bridge)
};

enum class BluetoothDirection : uint8_t
{
    unknown,
    outgoing,   // the computer connects to the receiver: the port that answers
    incoming    // the computer waits for a device to connect: never answers a probe
};

struct PortDescription
{
    PortKind kind = PortKind::unknown;
    std::string friendlyName;   // Windows: "USB Serial Port (COM3)"
    std::string usbVendor;      // four hex digits, "" when not USB
    std::string usbProduct;
    std::string manufacturer;   // the USB device's own strings
    std::string product;
    std::string serialNumber;
    std::string stableName;     // Linux: the /dev/serial/by-id/ name, which survives replugging
    std::string driver;         // Linux: the kernel driver ("ftdi_sio", "cp210x", "serial8250")
    std::string uartType;       // a built-in UART's type ("16550A")
    BluetoothDirection direction = BluetoothDirection::unknown;
    std::string remoteAddress;  // a Bluetooth link's remote device, "00:11:22:AA:BB:CC"
    std::string remoteName;     // its name, where the system keeps it
    bool paired = false;        // a paired device reached through the system's Bluetooth service
    bool connected = false;     // and connected to the computer now
    bool console = false;       // the system's console

    /** One line for the user, "" when nothing is known: "FTDI FT232R USB UART,
        serial A10K1ABC", "Bluetooth serial link, outgoing to Rulko kitchen". */
    std::string text() const;

    /** A port that never answers a probe (an incoming Bluetooth port). */
    bool neverAnswers() const noexcept { return direction == BluetoothDirection::incoming; }
};

/** The description of table entry index; empty for an invalid index. */
PortDescription portDescription (int index);

/** Linux: what sysClassTty (normally /sys/class/tty), serialById (normally
    /dev/serial/by-id) and procConsoles say about devicePath. Pure file reading:
    tested on fake trees, and built everywhere. */
PortDescription describeTty (const std::string& devicePath,
                             const std::string& sysClassTty = "/sys/class/tty",
                             const std::string& serialById = "/dev/serial/by-id",
                             const std::string& procConsoles = "/proc/consoles");
