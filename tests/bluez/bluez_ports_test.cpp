// The port table in a running process follows BlueZ: pairing, removal and
// BlueZ stopping show at the next refresh, from its signals, without a new
// process. A private dbus-daemon is the system bus, the stand-in is BlueZ, and
// the test drives the stand-in with dbus-send as the desktop's settings would.

#include "serial/PortDescription.h"
#include "serial/PortTable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <unistd.h>

namespace
{
    std::string run (const std::string& command)
    {
        std::string out;
        if (FILE* p = ::popen (command.c_str(), "r"))
        {
            char buffer[256];
            while (std::fgets (buffer, sizeof (buffer), p) != nullptr)
                out += buffer;
            ::pclose (p);
        }
        return out;
    }

    int pidIn (const std::string& file)
    {
        std::ifstream in (file);
        int pid = 0;
        in >> pid;
        return pid;
    }

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
        std::string dir, address;

        void SetUp() override
        {
            char pattern[] = "/tmp/korva-bluez-XXXXXX";
            ASSERT_NE (::mkdtemp (pattern), nullptr);
            dir = pattern;
            address = "unix:path=" + dir + "/bus";
            run ("dbus-daemon --session --fork --print-pid=3 --address=" + address + " 3>" + dir + "/bus.pid");
            ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
            ::setenv ("BLUEZ_STANDIN_LOGS", dir.c_str(), 1);
            startBluez();
        }

        void TearDown() override
        {
            stopBluez();
            if (const int pid = pidIn (dir + "/bus.pid"); pid > 0)
                ::kill (pid, SIGTERM);
            run ("rm -rf " + dir);
        }

        void startBluez()
        {
            run (std::string ("sh -c '" KORVA_SYSTEM_PYTHON " -m dbusmock --system -t " KORVA_BLUEZ_STANDIN " >")
                 + dir + "/bluez.log 2>&1 & echo $! >" + dir + "/bluez.pid'");
            for (int i = 0; i < 500 && run (send ("/", "org.freedesktop.DBus.Introspectable.Introspect", "")).empty(); ++i)
                std::this_thread::sleep_for (std::chrono::milliseconds (20));
        }

        void stopBluez()
        {
            if (const int pid = pidIn (dir + "/bluez.pid"); pid > 0)
                ::kill (pid, SIGTERM);
            ::unlink ((dir + "/bluez.pid").c_str());
        }

        std::string send (const std::string& path, const std::string& method, const std::string& args)
        {
            return "dbus-send --bus=" + address + " --print-reply --dest=org.bluez " + path + " " + method + " " + args + " 2>/dev/null";
        }

        void addReceiver (const char* mac, const char* alias)
        {
            run (send ("/", "org.bluez.Mock.AddReceiver", std::string ("string:hci0 string:") + mac + " string:'" + alias
                                                           + "' string:off int32:0 array:string:--type,f0"));
        }
    };
}

TEST_F (BluezPorts, TheListFollowsPairingRemovalAndBlueZ)
{
    EXPECT_EQ (bluetoothPorts(), std::vector<std::string> {}) << "no adapter yet";

    run (send ("/", "org.bluez.Mock.AddAdapter", "string:hci0 string:korva-test"));
    addReceiver ("00:11:22:AA:BB:01", "Rulko kitchen");
    run (send ("/", "org.bluez.Mock.AddHeadphones", "string:hci0 string:00:11:22:AA:BB:02 string:Headphones"));
    EXPECT_EQ (listUntil ({ "bt:00:11:22:AA:BB:01 | Rulko kitchen (00:11:22:AA:BB:01), Bluetooth link, paired, not connected" }),
               std::vector<std::string> ({ "bt:00:11:22:AA:BB:01 | Rulko kitchen (00:11:22:AA:BB:01), Bluetooth link, paired, not connected" }));

    addReceiver ("00:11:22:AA:BB:03", "Rulko garage");
    run (send ("/org/bluez/hci0", "org.bluez.Adapter1.RemoveDevice", "objpath:/org/bluez/hci0/dev_00_11_22_AA_BB_01"));
    EXPECT_EQ (listUntil ({ "bt:00:11:22:AA:BB:03 | Rulko garage (00:11:22:AA:BB:03), Bluetooth link, paired, not connected" }),
               std::vector<std::string> ({ "bt:00:11:22:AA:BB:03 | Rulko garage (00:11:22:AA:BB:03), Bluetooth link, paired, not connected" }));

    // BlueZ stops: its devices go with it.
    stopBluez();
    EXPECT_EQ (listUntil ({}), std::vector<std::string> {});
}
