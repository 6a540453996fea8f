#pragma once
// For in-process tests: a private dbus-daemon as the system bus of this process
// (DBUS_SYSTEM_BUS_ADDRESS, set before the first use of the bus) with the BlueZ
// stand-in (bluez_standin.py) on it, driven with dbus-send as the desktop's
// Bluetooth settings would drive BlueZ.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <signal.h>
#include <unistd.h>

class BluezStandIn
{
public:
    std::string dir, address;

    BluezStandIn()
    {
        char pattern[] = "/tmp/korva-bluez-XXXXXX";
        if (::mkdtemp (pattern) == nullptr)
            return;
        dir = pattern;
        address = "unix:path=" + dir + "/bus";
        run ("dbus-daemon --session --fork --print-pid=3 --address=" + address + " 3>" + dir + "/bus.pid");
        ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        ::setenv ("BLUEZ_STANDIN_LOGS", dir.c_str(), 1);
        startBluez();
    }

    ~BluezStandIn()
    {
        stopBluez();
        if (const int pid = pidIn (dir + "/bus.pid"); pid > 0)
            ::kill (pid, SIGTERM);
        if (! dir.empty())
            run ("rm -rf " + dir);
    }

    BluezStandIn (const BluezStandIn&) = delete;
    BluezStandIn& operator= (const BluezStandIn&) = delete;

    /** True once the stand-in answers on the bus. */
    bool ready() { return ! run (send ("/", "org.freedesktop.DBus.Introspectable.Introspect", "")).empty(); }

    void startBluez()
    {
        run (std::string ("sh -c '" KORVA_SYSTEM_PYTHON " -m dbusmock --system -t " KORVA_BLUEZ_STANDIN " >")
             + dir + "/bluez.log 2>&1 & echo $! >" + dir + "/bluez.pid'");
        for (int i = 0; i < 500 && ! ready(); ++i)
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }

    void stopBluez()
    {
        if (const int pid = pidIn (dir + "/bluez.pid"); pid > 0)
            ::kill (pid, SIGTERM);
        ::unlink ((dir + "/bluez.pid").c_str());
    }

    std::string call (const std::string& path, const std::string& method, const std::string& args)
    {
        return run (send (path, method, args));
    }

    void addAdapter() { call ("/", "org.bluez.Mock.AddAdapter", "string:hci0 string:korva-test"); }

    /** A paired receiver. behaviour as the stand-in takes it; "external": served by
        a receiver of the test's own, listening at listenPath (mac). */
    void addReceiver (const std::string& mac, const std::string& alias, const std::string& behaviour = "off",
                      int delayMs = 0)
    {
        call ("/", "org.bluez.Mock.AddReceiver", "string:hci0 string:" + mac + " string:'" + alias + "' string:" + behaviour
                                                 + " int32:" + std::to_string (delayMs) + " array:string:--type,f0");
    }

    /** Where an "external" receiver with address mac is to listen. */
    std::string listenPath (const std::string& mac) const
    {
        std::string compact;
        for (const char c : mac)
            if (c != ':')
                compact += c;
        return dir + "/sim-" + compact + ".sock";
    }

    static std::string run (const std::string& command)
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

private:
    static int pidIn (const std::string& file)
    {
        std::ifstream in (file);
        int pid = 0;
        in >> pid;
        return pid;
    }

    std::string send (const std::string& path, const std::string& method, const std::string& args) const
    {
        return "dbus-send --bus=" + address + " --print-reply --dest=org.bluez " + path + " " + method + " " + args + " 2>/dev/null";
    }
};
