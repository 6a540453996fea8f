// Port descriptions on POSIX systems: sysfs, read once per device node.

#include "serial/PortDescription.h"
#include "serial/PortTable.h"
#include "serial/BluezBus.h"
#include "serial/BluezText.h"

#include <map>
#include <mutex>
#include <string>

#include <sys/stat.h>

PortDescription portDescription (int index)
{
    const char* path = portDeviceName (index);
    if (path == nullptr)
        return {};

    // A paired receiver: what BlueZ says about it now (it connects and disconnects).
    std::string address;
    if (bluetoothAddressOf (path, address))
    {
        PortDescription d;
        d.kind = PortKind::bluetooth;
        d.direction = BluetoothDirection::outgoing;
        d.remoteAddress = address;
        BluetoothDevice device;
        if (BluezBus::instance().findDevice (address, device))
        {
            d.remoteName = device.alias;
            d.paired = device.paired;
            d.connected = device.connected;
        }
        return d;
    }

    // Keyed by the node behind the name as well: an adapter plugged in after
    // another one left gets a node of its own, and so a fresh description.
    struct stat st {};
    std::string key = path;
    if (::stat (path, &st) == 0)
        key += "@" + std::to_string ((unsigned long long) st.st_rdev) + ":" + std::to_string ((unsigned long long) st.st_ino);

    static std::mutex mutex;
    static std::map<std::string, PortDescription> known;

    const std::lock_guard<std::mutex> lock (mutex);
    const auto found = known.find (key);
    if (found != known.end())
        return found->second;
    if (known.size() > 4 * maxPorts)
        known.clear();
    return known[key] = describeTty (path);
}
