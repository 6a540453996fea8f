#include "cli/PortInfo.h"

#include <fstream>
#include <system_error>

#include <filesystem>

namespace fs = std::filesystem;

namespace korvacli
{
namespace
{
    std::string firstLine (const fs::path& file)
    {
        std::ifstream in (file);
        std::string line;
        std::getline (in, line);
        return line;
    }
}

PortInfo portInfo (const std::string& devicePath, const std::string& sysClassTty)
{
    PortInfo info;
    std::error_code ec;

    // A symlink (such as /dev/serial/by-id/...) names the tty it points to.
    fs::path device (devicePath);
    const auto resolved = fs::canonical (device, ec);
    const std::string ttyName = (ec ? device : resolved).filename().string();

    info.rfcomm = ttyName.rfind ("rfcomm", 0) == 0;

    const fs::path classEntry = fs::path (sysClassTty) / ttyName;
    const auto deviceDir = fs::canonical (classEntry / "device", ec);
    if (ec)
        return info;

    const auto driver = fs::read_symlink (deviceDir / "driver", ec);
    if (! ec)
        info.driver = driver.filename().string();

    // The USB device is the nearest parent with a vendor id.
    for (fs::path dir = deviceDir; ! dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
    {
        if (fs::exists (dir / "idVendor", ec))
        {
            info.usbVendor = firstLine (dir / "idVendor");
            info.usbProduct = firstLine (dir / "idProduct");
            info.usbSerial = firstLine (dir / "serial");
            info.manufacturer = firstLine (dir / "manufacturer");
            info.product = firstLine (dir / "product");
            break;
        }
    }

    return info;
}
}
