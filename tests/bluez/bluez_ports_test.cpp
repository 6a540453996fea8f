// The port table in a running process follows BlueZ: pairing, removal and
// BlueZ stopping show at the next refresh, from its signals, without a new
// process. A private dbus-daemon is the system bus, the stand-in is BlueZ, and
// the test drives the stand-in with dbus-send as the desktop's settings would.

#include "serial/PortDescription.h"
#include "serial/PortTable.h"
#include "BluezStandIn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace
{
    std::vector<std::string> bluetoothPorts()
    {
        std::vector<std::string> names;
        const int n = enumeratePorts();
        for (int i = 0; i < n; ++i)
            if (std::string (portDisplayName (i)).rfind ("bt:", 0) == 0)
                names.push_back (std::string (portDisplayName (i)) + " | " + portDescription (i).text());
        return names;
    }

    /** Refreshes as the window does until the list is the one expected, or 10 s pass. */
    std::vector<std::string> listUntil (const std::vector<std::string>& expected)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (10);
        auto list = bluetoothPorts();
        while (list != expected && std::chrono::steady_clock::now() < deadline)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
            list = bluetoothPorts();
        }
        return list;
    }

    class BluezPorts : public ::testing::Test
    {
    protected:
        BluezStandIn bluez;
    };
}

TEST_F (BluezPorts, TheListFollowsPairingRemovalAndBlueZ)
{
    EXPECT_EQ (bluetoothPorts(), std::vector<std::string> {}) << "no adapter yet";

    bluez.addAdapter();
    bluez.addReceiver ("00:11:22:AA:BB:01", "Rulko kitchen");
    bluez.call ("/", "org.bluez.Mock.AddHeadphones", "string:hci0 string:00:11:22:AA:BB:02 string:Headphones");
    EXPECT_EQ (listUntil ({ "bt:00:11:22:AA:BB:01 | Rulko kitchen (00:11:22:AA:BB:01), Bluetooth link, paired, not connected" }),
               std::vector<std::string> ({ "bt:00:11:22:AA:BB:01 | Rulko kitchen (00:11:22:AA:BB:01), Bluetooth link, paired, not connected" }));

    bluez.addReceiver ("00:11:22:AA:BB:03", "Rulko garage");
    bluez.call ("/org/bluez/hci0", "org.bluez.Adapter1.RemoveDevice", "objpath:/org/bluez/hci0/dev_00_11_22_AA_BB_01");
    EXPECT_EQ (listUntil ({ "bt:00:11:22:AA:BB:03 | Rulko garage (00:11:22:AA:BB:03), Bluetooth link, paired, not connected" }),
               std::vector<std::string> ({ "bt:00:11:22:AA:BB:03 | Rulko garage (00:11:22:AA:BB:03), Bluetooth link, paired, not connected" }));

    // BlueZ stops: its devices go with it.
    bluez.stopBluez();
    EXPECT_EQ (listUntil ({}), std::vector<std::string> {});
}
