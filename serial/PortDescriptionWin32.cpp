// Port descriptions on Windows: what SetupAPI's Ports class says about each
// present port, matched to the table by the port name its driver registered
// ("PortName" in the device's key). Only present devices: an adapter that was
// plugged in once keeps its device, and its port name, after it is gone.
// Nothing here opens a port.
//
// Read once per port: the first description asked for that the cache lacks
// reads every Ports device at once and keeps all of them, and "nothing known"
// for a port SetupAPI does not list. A table rebuild forgets the ports it no
// longer lists, so a port that leaves and comes back is read afresh.

#include "serial/PortDescription.h"
#include "serial/PortTable.h"
#include "serial/PortTableWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace
{
    /** The Bluetooth service's per-device keys; the subkey is the address as 12 lowercase hex digits. */
    const wchar_t* const bluetoothDevicesKey = L"SYSTEM\\CurrentControlSet\\Services\\BTHPORT\\Parameters\\Devices";

    std::string utf8 (const wchar_t* text, int length)
    {
        if (length <= 0)
            return {};
        const int size = ::WideCharToMultiByte (CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
        if (size <= 0)
            return {};
        std::string out ((size_t) size, '\0');
        ::WideCharToMultiByte (CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
        return out;
    }

    /** Registry strings need not end in a terminator, and may hold several. */
    std::vector<std::string> stringsOf (const std::vector<wchar_t>& buffer)
    {
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t i = 0; i <= buffer.size(); ++i)
        {
            if (i == buffer.size() || buffer[i] == L'\0')
            {
                if (i > start)
                    out.push_back (utf8 (buffer.data() + start, (int) (i - start)));
                start = i + 1;
            }
        }
        return out;
    }

    std::vector<std::string> deviceProperty (HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
    {
        DWORD type = 0, size = 0;
        ::SetupDiGetDeviceRegistryPropertyW (set, &device, property, &type, nullptr, 0, &size);
        if (size == 0 || (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ))
            return {};

        std::vector<wchar_t> buffer ((size + sizeof (wchar_t) - 1) / sizeof (wchar_t), L'\0');
        if (! ::SetupDiGetDeviceRegistryPropertyW (set, &device, property, &type,
                                                   reinterpret_cast<BYTE*> (buffer.data()),
                                                   (DWORD) (buffer.size() * sizeof (wchar_t)), &size))
            return {};
        buffer.resize (std::min (buffer.size(), (size_t) size / sizeof (wchar_t)));
        return stringsOf (buffer);
    }

    std::string firstOf (const std::vector<std::string>& strings)
    {
        return strings.empty() ? std::string() : strings.front();
    }

    /** A value's bytes, up to limit; empty when missing. */
    std::vector<BYTE> registryValue (HKEY key, const wchar_t* name, DWORD& type, DWORD limit = 4096)
    {
        DWORD size = 0;
        if (::RegQueryValueExW (key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0 || size > limit)
            return {};
        std::vector<BYTE> bytes (size);
        if (::RegQueryValueExW (key, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS)
            return {};
        bytes.resize (size);
        return bytes;
    }

    std::string portNameOf (HDEVINFO set, SP_DEVINFO_DATA& device)
    {
        const HKEY key = ::SetupDiOpenDevRegKey (set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == nullptr || key == INVALID_HANDLE_VALUE)
            return {};

        DWORD type = 0;
        const auto bytes = registryValue (key, L"PortName", type);
        ::RegCloseKey (key);
        if (type != REG_SZ)
            return {};

        std::vector<wchar_t> text (bytes.size() / sizeof (wchar_t));
        std::memcpy (text.data(), bytes.data(), text.size() * sizeof (wchar_t));
        return firstOf (stringsOf (text));
    }

    std::string instanceIdOf (HDEVINFO set, SP_DEVINFO_DATA& device)
    {
        DWORD size = 0;
        ::SetupDiGetDeviceInstanceIdW (set, &device, nullptr, 0, &size);
        if (size == 0)
            return {};
        std::vector<wchar_t> id (size, L'\0');
        if (! ::SetupDiGetDeviceInstanceIdW (set, &device, id.data(), size, nullptr))
            return {};
        return firstOf (stringsOf (id));
    }

    std::string upper (std::string s)
    {
        for (char& c : s)
            c = (char) std::toupper ((unsigned char) c);
        return s;
    }

    std::string lower (std::string s)
    {
        for (char& c : s)
            c = (char) std::tolower ((unsigned char) c);
        return s;
    }

    bool startsWith (const std::string& s, const char* prefix)
    {
        return s.rfind (prefix, 0) == 0;
    }

    bool allHex (const std::string& s)
    {
        return std::all_of (s.begin(), s.end(), [] (char c) { return std::isxdigit ((unsigned char) c) != 0; });
    }

    /** The four hex digits after tag ("VID_") in an uppercased id, lowercase as sysfs gives them. */
    std::string idAfter (const std::string& id, const char* tag)
    {
        const auto at = id.find (tag);
        if (at == std::string::npos)
            return {};
        const std::string digits = id.substr (at + std::strlen (tag), 4);
        return digits.size() == 4 && allHex (digits) ? lower (digits) : std::string();
    }

    /** The name the Bluetooth service keeps for the device at address (12 hex digits). */
    std::string bluetoothName (const std::string& address)
    {
        const std::wstring path = std::wstring (bluetoothDevicesKey) + L"\\"
                                + std::wstring (address.begin(), address.end());
        HKEY key = nullptr;
        if (::RegOpenKeyExW (HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            return {};

        DWORD type = 0;
        const auto bytes = registryValue (key, L"Name", type);
        ::RegCloseKey (key);
        if (type != REG_BINARY)
            return {};

        const auto end = std::find (bytes.begin(), bytes.end(), BYTE (0));
        return std::string (bytes.begin(), end);
    }

    void describeBluetooth (PortDescription& d, const std::string& instanceId)
    {
        d.kind = PortKind::bluetooth;

        // ...\7&1A2B3C4D&0&001A7DDA7113_C00000000: the remote address, all zeros on an incoming port.
        const auto amp = instanceId.rfind ('&');
        if (amp == std::string::npos)
            return;
        const std::string digits = instanceId.substr (amp + 1, instanceId.find ('_', amp) - amp - 1);
        if (digits.size() != 12 || ! allHex (digits))
            return;

        if (digits == "000000000000")
        {
            d.direction = BluetoothDirection::incoming;
            return;
        }

        d.direction = BluetoothDirection::outgoing;
        for (size_t i = 0; i < digits.size(); i += 2)
        {
            if (i > 0)
                d.remoteAddress += ':';
            d.remoteAddress += upper (digits.substr (i, 2));
        }
        d.remoteName = bluetoothName (lower (digits));
    }

    PortDescription describeDevice (HDEVINFO set, SP_DEVINFO_DATA& device)
    {
        PortDescription d;
        d.friendlyName = firstOf (deviceProperty (set, device, SPDRP_FRIENDLYNAME));
        if (d.friendlyName.empty())
            d.friendlyName = firstOf (deviceProperty (set, device, SPDRP_DEVICEDESC));

        const std::string originalId = instanceIdOf (set, device);
        const std::string instanceId = upper (originalId);
        if (startsWith (instanceId, "BTHENUM\\"))
        {
            describeBluetooth (d, instanceId);
            return d;
        }

        for (const auto& hardwareId : deviceProperty (set, device, SPDRP_HARDWAREID))
        {
            const std::string id = upper (hardwareId);
            if ((startsWith (id, "USB\\") || startsWith (id, "FTDIBUS\\")) && ! idAfter (id, "VID_").empty())
            {
                d.kind = PortKind::usb;
                d.usbVendor = idAfter (id, "VID_");
                d.usbProduct = idAfter (id, "PID_");
                break;
            }
        }

        if (d.kind != PortKind::usb)
        {
            d.kind = PortKind::uart;
            return d;
        }

        // USB\VID_0403&PID_6001\A10K1ABC: a device with a serial number of its
        // own is known by it; one without gets a generated name with '&'s.
        if (startsWith (instanceId, "USB\\"))
        {
            const std::string last = originalId.substr (originalId.rfind ('\\') + 1);
            if (last.find ('&') == std::string::npos)
                d.serialNumber = last;
        }
        return d;
    }

    /** Every present device of the Ports class that names its port, by port name (uppercase). */
    std::map<std::string, PortDescription> readPortsClass()
    {
        std::map<std::string, PortDescription> found;
        const HDEVINFO set = ::SetupDiGetClassDevsW (&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
        if (set == INVALID_HANDLE_VALUE)
            return found;

        try
        {
            SP_DEVINFO_DATA device {};
            device.cbSize = sizeof (device);
            for (DWORD i = 0; ::SetupDiEnumDeviceInfo (set, i, &device); ++i)
            {
                const std::string port = upper (portNameOf (set, device));
                if (! port.empty())
                    found.emplace (port, describeDevice (set, device));
            }
        }
        catch (...)
        {
            // Out of memory: what was read so far is all there is.
        }

        ::SetupDiDestroyDeviceInfoList (set);
        return found;
    }

    struct Cache
    {
        std::mutex mutex;
        std::map<std::string, PortDescription> known;   // by port name, "COM5"
    };

    Cache& cache()
    {
        static Cache instance;
        return instance;
    }
}

void forgetUnlistedPortDescriptions (const int* portNumbers, int count)
{
    try
    {
        std::set<std::string> listed;
        for (int i = 0; i < count; ++i)
            listed.insert ("COM" + std::to_string (portNumbers[i]));

        Cache& c = cache();
        const std::lock_guard<std::mutex> lock (c.mutex);
        for (auto it = c.known.begin(); it != c.known.end();)
            it = listed.count (it->first) != 0 ? std::next (it) : c.known.erase (it);
    }
    catch (...)
    {
        // Keeping stale entries only delays a fresh read.
    }
}

PortDescription portDescription (int index)
{
    const char* display = portDisplayName (index);
    if (display == nullptr)
        return {};

    try
    {
        const std::string name = upper (display);
        Cache& c = cache();
        const std::lock_guard<std::mutex> lock (c.mutex);
        if (const auto hit = c.known.find (name); hit != c.known.end())
            return hit->second;

        for (auto& [port, description] : readPortsClass())
            c.known.emplace (port, std::move (description));
        return c.known[name];   // an empty one when SetupAPI does not list the port
    }
    catch (...)
    {
        return {};
    }
}
