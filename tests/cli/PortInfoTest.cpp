// What `korva ports` tells about a port, read from a sysfs tree laid out as
// Linux lays out a USB serial adapter, a Bluetooth RFCOMM link and a pty.

#include "cli/PortInfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace
{
    struct FakeSysfs
    {
        fs::path root = fs::temp_directory_path() / ("korva-sysfs-" + std::to_string (::testing::UnitTest::GetInstance()->random_seed()));

        FakeSysfs()
        {
            fs::remove_all (root);
            const auto usb = root / "devices/pci0000:00/usb1/1-2";
            const auto iface = usb / "1-2:1.0/ttyUSB0";
            fs::create_directories (iface);
            fs::create_directories (root / "bus/usb-serial/drivers/ftdi_sio");
            fs::create_directory_symlink (root / "bus/usb-serial/drivers/ftdi_sio", iface / "driver");
            write (usb / "idVendor", "0403");
            write (usb / "idProduct", "6001");
            write (usb / "serial", "A50285BI");
            write (usb / "manufacturer", "FTDI");
            write (usb / "product", "FT232R USB UART");

            const auto bt = root / "devices/virtual/tty/rfcomm0";
            fs::create_directories (bt);

            fs::create_directories (root / "class/tty/ttyUSB0");
            fs::create_directory_symlink (iface, root / "class/tty/ttyUSB0/device");
            fs::create_directories (root / "class/tty/rfcomm0");
        }

        ~FakeSysfs() { fs::remove_all (root); }

        static void write (const fs::path& file, const char* text)
        {
            std::ofstream (file) << text << "\n";
        }

        std::string classDir() const { return (root / "class/tty").string(); }
    };
}

TEST (PortInfo, UsbAdapterRfcommAndPty)
{
    FakeSysfs sys;

    const auto usb = korvacli::portInfo ("/dev/ttyUSB0", sys.classDir());
    EXPECT_EQ (usb.usbVendor, "0403");
    EXPECT_EQ (usb.usbProduct, "6001");
    EXPECT_EQ (usb.usbSerial, "A50285BI");
    EXPECT_EQ (usb.manufacturer, "FTDI");
    EXPECT_EQ (usb.product, "FT232R USB UART");
    EXPECT_EQ (usb.driver, "ftdi_sio");
    EXPECT_FALSE (usb.rfcomm);

    const auto bt = korvacli::portInfo ("/dev/rfcomm0", sys.classDir());
    EXPECT_TRUE (bt.rfcomm);
    EXPECT_TRUE (bt.usbVendor.empty());
    EXPECT_TRUE (bt.driver.empty());

    const auto pty = korvacli::portInfo ("/dev/pts/7", sys.classDir());
    EXPECT_FALSE (pty.rfcomm);
    EXPECT_TRUE (pty.usbVendor.empty());
    EXPECT_TRUE (pty.driver.empty());
}
