// Port descriptions on Windows, under Wine against its real SetupAPI and
// registry: the test registers devices of the Ports class as their drivers
// would (a USB adapter, an FTDI one, both ends of a Bluetooth link, a built-in
// UART) with COM names no DOS device has, names those ports in the table, and
// checks what portDescription reads. The devices are removed at the end, and
// leftovers of an interrupted run before the start.
//
// Wine 8 lists every device of the class whether or not DIGCF_PRESENT is
// asked for (it filters only device interfaces by presence, and ignores even a
// "Phantom" value), so these devices count as present without a driver. On
// Windows the flag keeps out the ports of adapters no longer plugged in, which
// keep their PortName; that filtering is not tested here.

#include "serial/PortDescription.h"
#include "serial/PortTable.h"
#include "serial/PortTableWin32.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

namespace
{
    const wchar_t* const bluetoothDevicesKey = L"SYSTEM\\CurrentControlSet\\Services\\BTHPORT\\Parameters\\Devices";
    const wchar_t* const remoteKey = L"001a7dda7113";
    const char remoteNameUtf8[] = "Rulko k\xC3\xBC" "che";   // "Rulko küche", kept zero-terminated as Windows does

    struct Device
    {
        const wchar_t* instanceId;
        std::vector<std::wstring> hardwareIds;
        const wchar_t* friendlyName; // nullptr: only a device description
        int com;
    };

    const Device devices[] = {
        { L"USB\\VID_0403&PID_6001\\KORVATEST1",
          { L"USB\\VID_0403&PID_6001&REV_0600", L"USB\\VID_0403&PID_6001" },
          L"USB Serial Port (COM71)", 71 },
        { L"FTDIBUS\\VID_10C4+PID_EA60+KORVATEST2A\\0000",
          { L"FTDIBUS\\COMPORT&VID_10C4&PID_EA60" }, nullptr, 72 },
        { L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1A2B3C4D&0&001A7DDA7113_C00000000",
          { L"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0002" },
          L"Standard Serial over Bluetooth link (COM73)", 73 },
        { L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\7&1A2B3C4D&0&000000000000_00000000",
          { L"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0000" },
          L"Standard Serial over Bluetooth link (COM74)", 74 },
        { L"ACPI\\PNP0501\\KORVATEST5",
          { L"ACPI\\PNP0501", L"*PNP0501" },
          L"Communications Port (COM75)", 75 },
    };
    constexpr int unregisteredCom = 79;
    const wchar_t* const lateInstanceId = L"USB\\VID_2341&PID_0043\\KORVATEST9";

    /** Sets a string property; several strings make a multi-sz. */
    bool setStrings (HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property, const std::vector<std::wstring>& strings)
    {
        std::wstring value;
        for (const auto& s : strings)
            value.append (s).push_back (L'\0');
        if (strings.size() > 1)
            value.push_back (L'\0');
        return ::SetupDiSetDeviceRegistryPropertyW (set, &data, property, reinterpret_cast<const BYTE*> (value.c_str()),
                                                    (DWORD) (value.size() * sizeof (wchar_t))) != FALSE;
    }

    /** Removes the device with instanceId, when there is one. */
    void removeDevice (const wchar_t* instanceId)
    {
        const HDEVINFO set = ::SetupDiCreateDeviceInfoList (&GUID_DEVCLASS_PORTS, nullptr);
        ASSERT_NE (set, INVALID_HANDLE_VALUE);
        SP_DEVINFO_DATA data {};
        data.cbSize = sizeof (data);
        if (::SetupDiOpenDeviceInfoW (set, instanceId, nullptr, 0, &data))
        {
            EXPECT_TRUE (::SetupDiRemoveDevice (set, &data)) << ::GetLastError();
        }
        ::SetupDiDestroyDeviceInfoList (set);
    }

    /** Registers a Ports device as its driver's installation would, its port named COMcom. */
    void registerDevice (const Device& device)
    {
        removeDevice (device.instanceId);

        const HDEVINFO set = ::SetupDiCreateDeviceInfoList (&GUID_DEVCLASS_PORTS, nullptr);
        ASSERT_NE (set, INVALID_HANDLE_VALUE);
        SP_DEVINFO_DATA data {};
        data.cbSize = sizeof (data);
        ASSERT_TRUE (::SetupDiCreateDeviceInfoW (set, device.instanceId, &GUID_DEVCLASS_PORTS, L"USB Serial Port",
                                                 nullptr, 0, &data)) << ::GetLastError();
        EXPECT_TRUE (::SetupDiRegisterDeviceInfo (set, &data, 0, nullptr, nullptr, nullptr)) << ::GetLastError();
        EXPECT_TRUE (setStrings (set, data, SPDRP_HARDWAREID, device.hardwareIds)) << ::GetLastError();
        if (device.friendlyName != nullptr)
        {
            EXPECT_TRUE (setStrings (set, data, SPDRP_FRIENDLYNAME, { device.friendlyName })) << ::GetLastError();
        }

        const HKEY key = ::SetupDiCreateDevRegKeyW (set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        EXPECT_NE (key, INVALID_HANDLE_VALUE) << ::GetLastError();
        if (key != INVALID_HANDLE_VALUE)
        {
            const std::wstring port = L"COM" + std::to_wstring (device.com);
            EXPECT_EQ (::RegSetValueExW (key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*> (port.c_str()),
                                         (DWORD) ((port.size() + 1) * sizeof (wchar_t))), ERROR_SUCCESS);
            ::RegCloseKey (key);
        }
        ::SetupDiDestroyDeviceInfoList (set);
    }

    void setFriendlyName (const wchar_t* instanceId, const wchar_t* name)
    {
        const HDEVINFO set = ::SetupDiCreateDeviceInfoList (&GUID_DEVCLASS_PORTS, nullptr);
        ASSERT_NE (set, INVALID_HANDLE_VALUE);
        SP_DEVINFO_DATA data {};
        data.cbSize = sizeof (data);
        ASSERT_TRUE (::SetupDiOpenDeviceInfoW (set, instanceId, nullptr, 0, &data)) << ::GetLastError();
        EXPECT_TRUE (setStrings (set, data, SPDRP_FRIENDLYNAME, { name })) << ::GetLastError();
        ::SetupDiDestroyDeviceInfoList (set);
    }

    std::wstring remotePath()
    {
        return std::wstring (bluetoothDevicesKey) + L"\\" + remoteKey;
    }

    /** Table of the given COM numbers, in that order. */
    void useTable (std::initializer_list<int> numbers)
    {
        std::string list;
        for (const int n : numbers)
            list.append ("COM" + std::to_string (n)).push_back ('\0');
        list.push_back ('\0');
        ASSERT_EQ (enumeratePortsFromList (list.data(), list.size()), (int) numbers.size());
    }

    PortDescription describe (int com)
    {
        for (int i = 0; i < portCount(); ++i)
            if (std::string (portDisplayName (i)) == "COM" + std::to_string (com))
                return portDescription (i);
        ADD_FAILURE() << "COM" << com << " not in the table";
        return {};
    }

    class PortDescriptionWin32 : public ::testing::Test
    {
    protected:
        static void SetUpTestSuite()
        {
            for (const auto& d : devices)
                registerDevice (d);
            removeDevice (lateInstanceId);

            HKEY key = nullptr;
            ASSERT_EQ (::RegCreateKeyExW (HKEY_LOCAL_MACHINE, remotePath().c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                          nullptr, &key, nullptr), ERROR_SUCCESS);
            EXPECT_EQ (::RegSetValueExW (key, L"Name", 0, REG_BINARY, reinterpret_cast<const BYTE*> (remoteNameUtf8),
                                         sizeof (remoteNameUtf8)), ERROR_SUCCESS);
            ::RegCloseKey (key);
        }

        static void TearDownTestSuite()
        {
            for (const auto& d : devices)
                removeDevice (d.instanceId);
            removeDevice (lateInstanceId);
            ::RegDeleteKeyW (HKEY_LOCAL_MACHINE, remotePath().c_str());
            useTable ({});
        }
    };
}

TEST_F (PortDescriptionWin32, EachKindOfPortAsSetupApiDescribesIt)
{
    useTable ({ 71, 72, 73, 74, 75, unregisteredCom });

    struct Expected
    {
        int com;
        PortKind kind;
        std::string friendlyName, vendor, product, serial;
        BluetoothDirection direction;
        std::string address, remoteName, text;
    };
    const Expected cases[] = {
        { 71, PortKind::usb, "USB Serial Port (COM71)", "0403", "6001", "KORVATEST1", BluetoothDirection::unknown, "", "",
          "USB Serial Port (COM71) [0403:6001], serial KORVATEST1" },
        { 72, PortKind::usb, "USB Serial Port", "10c4", "ea60", "", BluetoothDirection::unknown, "", "",
          "USB Serial Port [10c4:ea60]" },
        { 73, PortKind::bluetooth, "Standard Serial over Bluetooth link (COM73)", "", "", "", BluetoothDirection::outgoing,
          "00:1A:7D:DA:71:13", remoteNameUtf8,
          std::string ("Standard Serial over Bluetooth link (COM73), outgoing to ") + remoteNameUtf8 + " (00:1A:7D:DA:71:13)" },
        { 74, PortKind::bluetooth, "Standard Serial over Bluetooth link (COM74)", "", "", "", BluetoothDirection::incoming, "", "",
          "Standard Serial over Bluetooth link (COM74), incoming: never answers (use the outgoing port)" },
        { 75, PortKind::uart, "Communications Port (COM75)", "", "", "", BluetoothDirection::unknown, "", "",
          "Communications Port (COM75)" },
        { unregisteredCom, PortKind::unknown, "", "", "", "", BluetoothDirection::unknown, "", "", "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("COM" + std::to_string (c.com));
        const auto d = describe (c.com);
        EXPECT_EQ (d.kind, c.kind);
        EXPECT_EQ (d.friendlyName, c.friendlyName);
        EXPECT_EQ (d.usbVendor, c.vendor);
        EXPECT_EQ (d.usbProduct, c.product);
        EXPECT_EQ (d.serialNumber, c.serial);
        EXPECT_EQ (d.direction, c.direction);
        EXPECT_EQ (d.neverAnswers(), c.direction == BluetoothDirection::incoming);
        EXPECT_EQ (d.remoteAddress, c.address);
        EXPECT_EQ (d.remoteName, c.remoteName);
        EXPECT_EQ (d.text(), c.text);
    }

    EXPECT_EQ (portDescription (-1).kind, PortKind::unknown);
    EXPECT_EQ (portDescription (portCount()).kind, PortKind::unknown);
}

TEST_F (PortDescriptionWin32, ReadOncePerPortAndAfreshWhenItComesBack)
{
    useTable ({ 71, unregisteredCom });
    ASSERT_EQ (describe (71).friendlyName, "USB Serial Port (COM71)");
    ASSERT_EQ (describe (unregisteredCom).kind, PortKind::unknown);

    // Changes while the ports stay listed are not read again, "nothing known" included.
    setFriendlyName (devices[0].instanceId, L"Renamed Port (COM71)");
    registerDevice ({ lateInstanceId, { L"USB\\VID_2341&PID_0043" }, L"Arduino Uno (COM79)", unregisteredCom });
    useTable ({ 71, unregisteredCom });
    EXPECT_EQ (describe (71).friendlyName, "USB Serial Port (COM71)");
    EXPECT_EQ (describe (unregisteredCom).kind, PortKind::unknown);

    // A port that left the table and came back is read afresh.
    useTable ({});
    useTable ({ unregisteredCom, 71 });
    EXPECT_EQ (describe (71).friendlyName, "Renamed Port (COM71)");
    const auto late = describe (unregisteredCom);
    EXPECT_EQ (late.kind, PortKind::usb);
    EXPECT_EQ (late.usbVendor + ":" + late.usbProduct, "2341:0043");
    EXPECT_EQ (late.friendlyName, "Arduino Uno (COM79)");
}
