#include "serial/PortDescription.h"

#include "serial/SystemConsole.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace
{
    std::string firstLine (const fs::path& file)
    {
        std::ifstream in (file);
        std::string line;
        std::getline (in, line);
        while (! line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        return line;
    }

    /** The serial_core type numbers (include/uapi/linux/serial_core.h) of the UARTs a PC or board has. */
    std::string uartTypeName (const std::string& number)
    {
        static const char* const names[] = { "", "8250", "16450", "16550", "16550A", "Cirrus", "16650", "16650V2",
                                             "16750", "Startech", "16C950", "16654", "16850", "RSA" };
        int n = -1;
        try { n = std::stoi (number); } catch (...) {}
        if (n > 0 && n < (int) (sizeof (names) / sizeof (names[0])))
            return names[n];
        return n > 0 ? "type " + number : std::string();
    }

    std::string join (const std::string& a, const std::string& b, const char* between = " ")
    {
        if (a.empty()) return b;
        if (b.empty()) return a;
        return a + between + b;
    }
}

std::string PortDescription::text() const
{
    std::string t;
    switch (kind)
    {
        case PortKind::usb:
        {
            // The adapter's own strings, when it has them; its ids otherwise.
            std::string name = product;
            if (! manufacturer.empty() && name.rfind (manufacturer, 0) != 0)
                name = join (manufacturer, name);
            if (name.empty())
                name = friendlyName.empty() ? "USB serial adapter" : friendlyName;
            t = name;
            if (! usbVendor.empty())
                t += " [" + usbVendor + ":" + usbProduct + "]";
            if (! serialNumber.empty())
                t += ", serial " + serialNumber;
            break;
        }
        case PortKind::uart:
            t = friendlyName.empty() ? "built-in serial port" : friendlyName;
            if (! uartType.empty())
                t += " (" + uartType + ")";
            break;
        case PortKind::bluetooth:
            if (paired)
            {
                const std::string who = remoteName.empty() ? remoteAddress : remoteName + " (" + remoteAddress + ")";
                t = who + ", Bluetooth link, paired, " + (connected ? "connected" : "not connected");
                break;
            }
            t = friendlyName.empty() ? "Bluetooth serial link" : friendlyName;
            if (direction == BluetoothDirection::outgoing)
            {
                const std::string who = remoteName.empty() ? remoteAddress
                                                           : join (remoteName, remoteAddress.empty() ? "" : "(" + remoteAddress + ")");
                t += who.empty() ? ", outgoing" : ", outgoing to " + who;
            }
            else if (direction == BluetoothDirection::incoming)
            {
                t += ", incoming: never answers (use the outgoing port)";
            }
            else if (! remoteAddress.empty())
            {
                t += " to " + remoteAddress;
            }
            break;
        case PortKind::pseudoTerminal:
            t = "pseudo-terminal";
            break;
        case PortKind::unknown:
            t = friendlyName;
            break;
    }
    if (console)
        t = join (t, "the system's console", ", ");
    return t;
}

PortDescription describeTty (const std::string& devicePath, const std::string& sysClassTty,
                             const std::string& serialById, const std::string& procConsoles)
{
    PortDescription d;
    std::error_code ec;

    const fs::path device (devicePath);
    const fs::path resolved = fs::canonical (device, ec);
    const fs::path node = ec ? device : resolved;
    const std::string name = node.filename().string();

    d.console = isSystemConsole (node.string(), procConsoles, sysClassTty);

    if (node.parent_path() == "/dev/pts")
    {
        d.kind = PortKind::pseudoTerminal;
        return d;
    }

    const fs::path classEntry = fs::path (sysClassTty) / name;

    if (name.rfind ("rfcomm", 0) == 0)
    {
        d.kind = PortKind::bluetooth;
        d.remoteAddress = firstLine (classEntry / "address");
        if (d.remoteAddress == "00:00:00:00:00:00")
            d.remoteAddress.clear();
        return d;
    }

    const auto deviceDir = fs::canonical (classEntry / "device", ec);
    if (ec)
        return d;

    const auto driver = fs::read_symlink (deviceDir / "driver", ec);
    if (! ec)
        d.driver = driver.filename().string();

    // A USB adapter: the nearest parent with a vendor id is the USB device.
    for (fs::path dir = deviceDir; ! dir.empty() && dir != dir.root_path() && dir != fs::path (sysClassTty).root_path();
         dir = dir.parent_path())
    {
        if (fs::exists (dir / "idVendor", ec))
        {
            d.kind = PortKind::usb;
            d.usbVendor = firstLine (dir / "idVendor");
            d.usbProduct = firstLine (dir / "idProduct");
            d.serialNumber = firstLine (dir / "serial");
            d.manufacturer = firstLine (dir / "manufacturer");
            d.product = firstLine (dir / "product");
            break;
        }
    }

    if (d.kind == PortKind::usb)
    {
        // Its stable name: the by-id link that leads to this node.
        for (const auto& entry : fs::directory_iterator (serialById, ec))
        {
            std::error_code linkError;
            if (fs::canonical (entry.path(), linkError) == node && ! linkError)
            {
                d.stableName = entry.path().string();
                break;
            }
        }
        return d;
    }

    d.kind = PortKind::uart;
    d.uartType = uartTypeName (firstLine (classEntry / "type"));
    if (d.uartType.empty() && ! d.driver.empty())
        d.uartType = d.driver;
    return d;
}
