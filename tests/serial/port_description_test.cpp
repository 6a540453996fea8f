// What the system says about a port, read from a sysfs tree laid out as Linux
// lays out an FTDI and a CP210x adapter (with their /dev/serial/by-id names), a
// built-in 16550A UART that is the console, an RFCOMM binding and a pty; and
// from this machine's own sysfs for the ports it has.

#include "serial/PortDescription.h"
#include "serial/PortTable.h"
#include "serial/SystemConsole.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
struct FakeSystem
{
    fs::path root = fs::temp_directory_path() / ("korva-sysfs-" + std::to_string (::getpid()));

    FakeSystem()
    {
        fs::remove_all (root);
        usbAdapter ("ttyUSB0", "1-2", "ftdi_sio", { "0403", "6001", "A50285BI", "FTDI", "FT232R USB UART" },
                    "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        usbAdapter ("ttyUSB1", "1-3", "cp210x", { "10c4", "ea60", "0001", "Silicon Labs", "CP2102 USB to UART Bridge Controller" },
                    "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0");

        const auto uart = root / "devices/platform/serial8250/tty/ttyS0";
        fs::create_directories (uart);
        fs::create_directories (root / "bus/platform/drivers/serial8250");
        fs::create_directory_symlink (root / "bus/platform/drivers/serial8250", uart / "driver");
        classEntry ("ttyS0", uart);
        write (root / "class/tty/ttyS0/type", "4");
        write (root / "proc-consoles", "ttyS0                -W- (EC p a)    4:64");
        write (root / "dev/ttyS0", "");

        fs::create_directories (root / "class/tty/rfcomm0");
        write (root / "class/tty/rfcomm0/address", "00:1a:7d:da:71:13");
        write (root / "dev/rfcomm0", "");
    }

    ~FakeSystem() { fs::remove_all (root); }

    struct Usb { const char *vendor, *product, *serial, *manufacturer, *name; };

    void usbAdapter (const char* tty, const char* busPort, const char* driver, Usb usb, const char* byId)
    {
        const auto device = root / "devices/pci0000:00/usb1" / busPort;
        const auto iface = device / (std::string (busPort) + ":1.0") / tty;
        fs::create_directories (iface);
        fs::create_directories (root / "bus/usb-serial/drivers" / driver);
        fs::create_directory_symlink (root / "bus/usb-serial/drivers" / driver, iface / "driver");
        write (device / "idVendor", usb.vendor);
        write (device / "idProduct", usb.product);
        write (device / "serial", usb.serial);
        write (device / "manufacturer", usb.manufacturer);
        write (device / "product", usb.name);
        classEntry (tty, iface);
        write (root / "dev" / tty, "");
        fs::create_directories (root / "dev/serial/by-id");
        fs::create_symlink (fs::path ("../..") / tty, root / "dev/serial/by-id" / byId);
    }

    void classEntry (const char* tty, const fs::path& deviceDir)
    {
        fs::create_directories (root / "class/tty" / tty);
        fs::create_directory_symlink (deviceDir, root / "class/tty" / tty / "device");
    }

    static void write (const fs::path& file, const char* text)
    {
        fs::create_directories (file.parent_path());
        std::ofstream (file) << text << (text[0] != 0 ? "\n" : "");
    }

    PortDescription describe (const char* tty) const
    {
        return describeTty ((root / "dev" / tty).string(), (root / "class/tty").string(),
                            (root / "dev/serial/by-id").string(), (root / "proc-consoles").string());
    }
};
}

TEST (PortDescription, FromAFakeSysfs)
{
    FakeSystem sys;

    const auto ftdi = sys.describe ("ttyUSB0");
    EXPECT_EQ (ftdi.kind, PortKind::usb);
    EXPECT_EQ (ftdi.usbVendor + ":" + ftdi.usbProduct, "0403:6001");
    EXPECT_EQ (ftdi.driver, "ftdi_sio");
    EXPECT_EQ (fs::path (ftdi.stableName).filename(), "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ (ftdi.text(), "FTDI FT232R USB UART [0403:6001], serial A50285BI");

    const auto cp210x = sys.describe ("ttyUSB1");
    EXPECT_EQ (cp210x.driver, "cp210x");
    EXPECT_EQ (fs::path (cp210x.stableName).filename(), "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0");
    EXPECT_EQ (cp210x.text(), "Silicon Labs CP2102 USB to UART Bridge Controller [10c4:ea60], serial 0001");

    const auto uart = sys.describe ("ttyS0");
    EXPECT_EQ (uart.kind, PortKind::uart);
    EXPECT_TRUE (uart.console);
    EXPECT_EQ (uart.text(), "built-in serial port (16550A), the system's console");

    const auto bt = sys.describe ("rfcomm0");
    EXPECT_EQ (bt.kind, PortKind::bluetooth);
    EXPECT_EQ (bt.text(), "Bluetooth serial link to 00:1a:7d:da:71:13");
    EXPECT_FALSE (bt.neverAnswers());

    EXPECT_EQ (sys.describe ("ttyACM7").text(), "") << "a port the system says nothing about";
}

TEST (PortDescription, APseudoTerminalSaysSo)
{
    const int master = ::posix_openpt (O_RDWR | O_NOCTTY);
    ASSERT_GE (master, 0);
    ASSERT_EQ (::grantpt (master), 0);
    ASSERT_EQ (::unlockpt (master), 0);
    const auto d = describeTty (::ptsname (master));
    EXPECT_EQ (d.kind, PortKind::pseudoTerminal);
    EXPECT_EQ (d.text(), "pseudo-terminal");
    ::close (master);
}

// The texts of what only Windows tells (friendly names, a Bluetooth port's direction).
TEST (PortDescription, BluetoothDirectionsAndFriendlyNames)
{
    PortDescription out;
    out.kind = PortKind::bluetooth;
    out.friendlyName = "Standard Serial over Bluetooth link (COM5)";
    out.direction = BluetoothDirection::outgoing;
    out.remoteAddress = "00:1A:7D:DA:71:13";
    out.remoteName = "Rulko kitchen";
    EXPECT_EQ (out.text(), "Standard Serial over Bluetooth link (COM5), outgoing to Rulko kitchen (00:1A:7D:DA:71:13)");

    PortDescription in = out;
    in.direction = BluetoothDirection::incoming;
    in.remoteAddress.clear();
    in.remoteName.clear();
    EXPECT_TRUE (in.neverAnswers());
    EXPECT_EQ (in.text(), "Standard Serial over Bluetooth link (COM5), incoming: never answers (use the outgoing port)");

    PortDescription usb;
    usb.kind = PortKind::usb;
    usb.friendlyName = "USB Serial Port (COM3)";
    usb.usbVendor = "0403";
    usb.usbProduct = "6001";
    EXPECT_EQ (usb.text(), "USB Serial Port (COM3) [0403:6001]");
}

// This machine's ports: each described without opening it (nothing is left open,
// a console says so).
TEST (PortDescription, ThisMachinesPorts)
{
    const int count = enumeratePorts();
    for (int i = 0; i < count; ++i)
    {
        const auto d = portDescription (i);
        SCOPED_TRACE (portDeviceName (i));
        EXPECT_EQ (d.console, isSystemConsole (portDeviceName (i)));
        if (d.kind == PortKind::uart)
        {
            EXPECT_FALSE (d.uartType.empty());
        }
        EXPECT_TRUE (portLost (i)) << "never opened";
    }
}
