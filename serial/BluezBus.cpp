#include "serial/BluezBus.h"
#include "serial/BluezText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

namespace
{
    constexpr const char* bluezService = "org.bluez";
    constexpr const char* deviceInterface = "org.bluez.Device1";
    constexpr const char* adapterInterface = "org.bluez.Adapter1";
    constexpr const char* profilePath = "/org/korva/serial_port";

    /** The first listing waits at most this long for BlueZ's answer; the bus answers in
        a few ms, and a bus or BlueZ that is absent answers at once. */
    constexpr int firstAnswerLimitMs = 300;

    /** How often a missing system bus is looked for again. */
    constexpr int reconnectIntervalMs = 3000;

    /** What one property dictionary said. */
    struct Properties
    {
        std::string address, alias, adapter;
        bool hasAddress = false, hasAlias = false, hasAdapter = false;
        int paired = -1, connected = -1, powered = -1;   // -1: not given
        bool hasUuids = false, serialPort = false;
    };

    struct DeviceRecord
    {
        std::string address, alias, adapter;
        bool paired = false, connected = false, serialPort = false;
    };

    struct Pending
    {
        std::string devicePath;
        int fd = -1;
        bool done = false;
        bool abandoned = false;
        BluetoothConnection result;
    };

    void apply (const Properties& p, DeviceRecord& d)
    {
        if (p.hasAddress) d.address = p.address;
        if (p.hasAlias) d.alias = p.alias;
        if (p.hasAdapter) d.adapter = p.adapter;
        if (p.paired >= 0) d.paired = p.paired != 0;
        if (p.connected >= 0) d.connected = p.connected != 0;
        if (p.hasUuids) d.serialPort = p.serialPort;
    }

    /** Reads an a{sv} at the message's position into p; negative on a malformed message. */
    int readProperties (sd_bus_message* m, Properties& p)
    {
        int r = sd_bus_message_enter_container (m, SD_BUS_TYPE_ARRAY, "{sv}");
        if (r < 0)
            return r;

        while ((r = sd_bus_message_enter_container (m, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0)
        {
            const char* name = nullptr;
            if ((r = sd_bus_message_read (m, "s", &name)) < 0)
                return r;

            char type = 0;
            const char* contents = nullptr;
            if ((r = sd_bus_message_peek_type (m, &type, &contents)) < 0)
                return r;

            const std::string key = name;
            const std::string sig = contents != nullptr ? contents : "";
            auto readString = [&] (std::string& out, bool& has) {
                const char* s = nullptr;
                const int q = sd_bus_message_read (m, "v", sig.c_str(), &s);
                if (q >= 0) { out = s != nullptr ? s : ""; has = true; }
                return q;
            };
            auto readBool = [&] (int& out) {
                int b = 0;
                const int q = sd_bus_message_read (m, "v", "b", &b);
                if (q >= 0) out = b != 0;
                return q;
            };

            if (sig == "s" && key == "Address")        r = readString (p.address, p.hasAddress);
            else if (sig == "s" && key == "Alias")     r = readString (p.alias, p.hasAlias);
            else if (sig == "o" && key == "Adapter")   r = readString (p.adapter, p.hasAdapter);
            else if (sig == "b" && key == "Paired")    r = readBool (p.paired);
            else if (sig == "b" && key == "Connected") r = readBool (p.connected);
            else if (sig == "b" && key == "Powered")   r = readBool (p.powered);
            else if (sig == "as" && key == "UUIDs")
            {
                if ((r = sd_bus_message_enter_container (m, SD_BUS_TYPE_VARIANT, "as")) < 0)
                    return r;
                char** uuids = nullptr;
                if ((r = sd_bus_message_read_strv (m, &uuids)) < 0)
                    return r;
                p.hasUuids = true;
                p.serialPort = false;
                for (char** u = uuids; u != nullptr && *u != nullptr; ++u)
                {
                    p.serialPort = p.serialPort || isSerialPortProfile (*u);
                    std::free (*u);
                }
                std::free (uuids);
                r = sd_bus_message_exit_container (m);
            }
            else
            {
                r = sd_bus_message_skip (m, "v");
            }
            if (r < 0)
                return r;

            if ((r = sd_bus_message_exit_container (m)) < 0)
                return r;
        }
        if (r < 0)
            return r;
        return sd_bus_message_exit_container (m);
    }
}

//==============================================================================
struct BluezBus::Impl
{
    std::mutex m;
    std::condition_variable changed;

    // Guarded by m: the copy of BlueZ's objects and the state of the bus.
    std::map<std::string, DeviceRecord> devices;   // by object path
    std::map<std::string, bool> adapters;          // object path -> powered
    bool firstAnswer = false;                      // BlueZ answered (or is known absent) once
    bool busUp = false;
    bool bluezUp = false;
    std::map<std::string, std::shared_ptr<Pending>> pending;   // by device path
    std::map<std::string, int> openLinks;                      // device path -> socket handed out
    std::deque<std::function<void()>> tasks;                  // run on the bus thread

    // Bus thread only.
    sd_bus* bus = nullptr;
    bool profileRegistered = false;
    int wakeFd = -1;
    std::thread thread;

    Impl()
    {
        wakeFd = ::eventfd (0, EFD_NONBLOCK | EFD_CLOEXEC);
        thread = std::thread ([this] { run(); });
        thread.detach();
    }

    void wake()
    {
        const uint64_t one = 1;
        (void) ! ::write (wakeFd, &one, sizeof (one));
    }

    void post (std::function<void()> task)
    {
        {
            const std::lock_guard<std::mutex> lock (m);
            tasks.push_back (std::move (task));
        }
        wake();
    }

    std::string pathOf (const std::string& address)   // m held
    {
        for (const auto& [path, d] : devices)
            if (d.address == address)
                return path;
        return {};
    }

    //==========================================================================
    // Bus thread.
    void run()
    {
        for (;;)
        {
            if (bus == nullptr && ! open())
            {
                dropBus();
                waitForWake (reconnectIntervalMs);
                continue;
            }

            int r;
            while ((r = sd_bus_process (bus, nullptr)) > 0) {}
            if (r < 0)
            {
                closeBus();
                continue;
            }

            runTasks();
            while ((r = sd_bus_process (bus, nullptr)) > 0) {}
            if (r < 0)
            {
                closeBus();
                continue;
            }

            const int events = sd_bus_get_events (bus);
            uint64_t until = UINT64_MAX;
            sd_bus_get_timeout (bus, &until);
            int timeoutMs = -1;
            if (until != UINT64_MAX)
            {
                timespec ts;
                ::clock_gettime (CLOCK_MONOTONIC, &ts);
                const uint64_t now = (uint64_t) ts.tv_sec * 1000000u + (uint64_t) ts.tv_nsec / 1000u;
                timeoutMs = until > now ? (int) std::min<uint64_t> ((until - now + 999) / 1000, 60000) : 0;
            }

            pollfd p[2] = { { sd_bus_get_fd (bus), (short) (events > 0 ? events : POLLIN), 0 }, { wakeFd, POLLIN, 0 } };
            ::poll (p, 2, timeoutMs);
            drainWake();
        }
    }

    void drainWake()
    {
        uint64_t n;
        while (::read (wakeFd, &n, sizeof (n)) > 0) {}
    }

    void waitForWake (int ms)
    {
        runTasks();
        pollfd p { wakeFd, POLLIN, 0 };
        ::poll (&p, 1, ms);
        drainWake();
        runTasks();
    }

    void runTasks()
    {
        for (;;)
        {
            std::function<void()> task;
            {
                const std::lock_guard<std::mutex> lock (m);
                if (tasks.empty())
                    return;
                task = std::move (tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }

    bool open()
    {
        sd_bus* b = nullptr;
        if (sd_bus_open_system (&b) < 0)
            return false;

        static const sd_bus_vtable profileVtable[] =
        {
            SD_BUS_VTABLE_START (0),
            SD_BUS_METHOD ("NewConnection", "oha{sv}", "", &Impl::onNewConnection, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD ("RequestDisconnection", "o", "", &Impl::onRequestDisconnection, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD ("Release", "", "", &Impl::onRelease, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END
        };

        if (sd_bus_add_object_vtable (b, nullptr, profilePath, "org.bluez.Profile1", profileVtable, this) < 0
             || sd_bus_match_signal_async (b, nullptr, bluezService, nullptr, "org.freedesktop.DBus.ObjectManager",
                                           "InterfacesAdded", &Impl::onInterfacesAdded, nullptr, this) < 0
             || sd_bus_match_signal_async (b, nullptr, bluezService, nullptr, "org.freedesktop.DBus.ObjectManager",
                                           "InterfacesRemoved", &Impl::onInterfacesRemoved, nullptr, this) < 0
             || sd_bus_match_signal_async (b, nullptr, bluezService, nullptr, "org.freedesktop.DBus.Properties",
                                           "PropertiesChanged", &Impl::onPropertiesChanged, nullptr, this) < 0
             || sd_bus_match_signal_async (b, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "NameOwnerChanged", &Impl::onNameOwnerChanged, nullptr, this) < 0)
        {
            sd_bus_unref (b);
            return false;
        }

        bus = b;
        profileRegistered = false;
        {
            const std::lock_guard<std::mutex> lock (m);
            busUp = true;
        }
        loadObjects();
        return true;
    }

    void loadObjects()
    {
        if (sd_bus_call_method_async (bus, nullptr, bluezService, "/", "org.freedesktop.DBus.ObjectManager",
                                      "GetManagedObjects", &Impl::onManagedObjects, this, "") < 0)
            answered (false);
    }

    /** BlueZ answered, or was found absent: waiting listings go on. */
    void answered (bool bluezPresent)
    {
        {
            const std::lock_guard<std::mutex> lock (m);
            bluezUp = bluezPresent;
            firstAnswer = true;
            if (! bluezPresent)
            {
                devices.clear();
                adapters.clear();
            }
        }
        changed.notify_all();
    }

    void closeBus()
    {
        if (bus != nullptr)
        {
            sd_bus_flush_close_unref (bus);
            bus = nullptr;
        }
        dropBus();
    }

    /** No bus: nothing is listed, and connections in progress fail. */
    void dropBus()
    {
        {
            const std::lock_guard<std::mutex> lock (m);
            busUp = false;
            bluezUp = false;
            firstAnswer = true;
            devices.clear();
            adapters.clear();
            for (auto& [path, p] : pending)
                finish (*p, PortFault::bluetoothUnavailable, "the system bus went away");
            pending.clear();
        }
        changed.notify_all();
    }

    /** Ends a pending connection with a fault (m held). */
    static void finish (Pending& p, PortFault fault, const std::string& detail)
    {
        if (p.fd >= 0)
            ::close (p.fd);
        p.fd = -1;
        p.result.fault = fault;
        p.result.detail = detail;
        p.done = true;
    }

    void interfacesAdded (sd_bus_message* msg)   // at "oa{sa{sv}}"
    {
        const char* path = nullptr;
        if (sd_bus_message_read (msg, "o", &path) < 0)
            return;
        if (sd_bus_message_enter_container (msg, SD_BUS_TYPE_ARRAY, "{sa{sv}}") < 0)
            return;

        int r;
        while ((r = sd_bus_message_enter_container (msg, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}")) > 0)
        {
            const char* iface = nullptr;
            Properties p;
            if (sd_bus_message_read (msg, "s", &iface) < 0 || readProperties (msg, p) < 0)
                return;

            {
                const std::lock_guard<std::mutex> lock (m);
                if (std::strcmp (iface, deviceInterface) == 0)
                    apply (p, devices[path]);
                else if (std::strcmp (iface, adapterInterface) == 0)
                    adapters[path] = p.powered != 0;
            }
            if (sd_bus_message_exit_container (msg) < 0)
                return;
        }
        sd_bus_message_exit_container (msg);
    }

    //==========================================================================
    // D-Bus callbacks (bus thread).
    static int onManagedObjects (sd_bus_message* reply, void* userdata, sd_bus_error*)
    {
        auto& self = *static_cast<Impl*> (userdata);
        if (sd_bus_message_is_method_error (reply, nullptr))
        {
            self.answered (false);
            return 0;
        }

        {
            const std::lock_guard<std::mutex> lock (self.m);
            self.devices.clear();
            self.adapters.clear();
        }
        if (sd_bus_message_enter_container (reply, SD_BUS_TYPE_ARRAY, "{oa{sa{sv}}}") >= 0)
        {
            while (sd_bus_message_enter_container (reply, SD_BUS_TYPE_DICT_ENTRY, "oa{sa{sv}}") > 0)
            {
                self.interfacesAdded (reply);
                if (sd_bus_message_exit_container (reply) < 0)
                    break;
            }
        }
        self.answered (true);
        return 0;
    }

    static int onInterfacesAdded (sd_bus_message* msg, void* userdata, sd_bus_error*)
    {
        auto& self = *static_cast<Impl*> (userdata);
        self.interfacesAdded (msg);
        self.changed.notify_all();
        return 0;
    }

    static int onInterfacesRemoved (sd_bus_message* msg, void* userdata, sd_bus_error*)
    {
        auto& self = *static_cast<Impl*> (userdata);
        const char* path = nullptr;
        char** ifaces = nullptr;
        if (sd_bus_message_read (msg, "o", &path) < 0 || sd_bus_message_read_strv (msg, &ifaces) < 0)
            return 0;

        {
            const std::lock_guard<std::mutex> lock (self.m);
            for (char** i = ifaces; i != nullptr && *i != nullptr; ++i)
            {
                if (std::strcmp (*i, deviceInterface) == 0)
                    self.devices.erase (path);
                else if (std::strcmp (*i, adapterInterface) == 0)
                    self.adapters.erase (path);
                std::free (*i);
            }
        }
        std::free (ifaces);
        self.changed.notify_all();
        return 0;
    }

    static int onPropertiesChanged (sd_bus_message* msg, void* userdata, sd_bus_error*)
    {
        auto& self = *static_cast<Impl*> (userdata);
        const char* iface = nullptr;
        Properties p;
        if (sd_bus_message_read (msg, "s", &iface) < 0 || readProperties (msg, p) < 0)
            return 0;

        const char* path = sd_bus_message_get_path (msg);
        if (path == nullptr)
            return 0;

        {
            const std::lock_guard<std::mutex> lock (self.m);
            if (std::strcmp (iface, deviceInterface) == 0)
            {
                const auto d = self.devices.find (path);
                if (d != self.devices.end())
                    apply (p, d->second);
            }
            else if (std::strcmp (iface, adapterInterface) == 0 && p.powered >= 0)
            {
                self.adapters[path] = p.powered != 0;
            }
        }
        self.changed.notify_all();
        return 0;
    }

    static int onNameOwnerChanged (sd_bus_message* msg, void* userdata, sd_bus_error*)
    {
        auto& self = *static_cast<Impl*> (userdata);
        const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
        if (sd_bus_message_read (msg, "sss", &name, &oldOwner, &newOwner) < 0 || std::strcmp (name, bluezService) != 0)
            return 0;

        // BlueZ restarted or stopped: its objects and our registration are gone with it.
        self.profileRegistered = false;
        if (newOwner != nullptr && newOwner[0] != '\0')
            self.loadObjects();
        else
            self.answered (false);
        return 0;
    }

    static int onNewConnection (sd_bus_message* msg, void* userdata, sd_bus_error*)
    {
        auto& self = *static_cast<Impl*> (userdata);
        const char* device = nullptr;
        int fd = -1;
        if (sd_bus_message_read (msg, "oh", &device, &fd) < 0)
            return sd_bus_reply_method_errorf (msg, "org.bluez.Error.InvalidArguments", "bad arguments");

        const std::lock_guard<std::mutex> lock (self.m);
        const auto p = self.pending.find (device);
        if (p == self.pending.end() || p->second->done || p->second->abandoned || p->second->fd >= 0)
            return sd_bus_reply_method_errorf (msg, "org.bluez.Error.Rejected", "no connection was asked for");

        // The message owns fd; keep a copy of our own.
        const int own = ::fcntl (fd, F_DUPFD_CLOEXEC, 3);
        if (own < 0)
            return sd_bus_reply_method_errorf (msg, "org.bluez.Error.Rejected", "cannot take the socket");
        ::fcntl (own, F_SETFL, ::fcntl (own, F_GETFL) | O_NONBLOCK);
        p->second->fd = own;
        return sd_bus_reply_method_return (msg, "");
    }

    static int onRequestDisconnection (sd_bus_message* msg, void* userdata, sd_bus_error*)
    {
        auto& self = *static_cast<Impl*> (userdata);
        const char* device = nullptr;
        if (sd_bus_message_read (msg, "o", &device) >= 0)
        {
            // The port sees the link go down, as it would on a dropped connection.
            const std::lock_guard<std::mutex> lock (self.m);
            const auto link = self.openLinks.find (device);
            if (link != self.openLinks.end())
                ::shutdown (link->second, SHUT_RDWR);
        }
        return sd_bus_reply_method_return (msg, "");
    }

    static int onRelease (sd_bus_message* msg, void* userdata, sd_bus_error*)
    {
        static_cast<Impl*> (userdata)->profileRegistered = false;
        return sd_bus_reply_method_return (msg, "");
    }

    struct CallContext
    {
        Impl* self;
        std::shared_ptr<Pending> pending;
    };

    static int onConnectReply (sd_bus_message* reply, void* userdata, sd_bus_error*)
    {
        std::unique_ptr<CallContext> context (static_cast<CallContext*> (userdata));
        Impl& self = *context->self;
        Pending& p = *context->pending;

        bool disconnectLate = false;
        {
            const std::lock_guard<std::mutex> lock (self.m);
            if (sd_bus_message_is_method_error (reply, nullptr))
            {
                const sd_bus_error* e = sd_bus_message_get_error (reply);
                const std::string name = e != nullptr && e->name != nullptr ? e->name : "";
                const std::string text = e != nullptr && e->message != nullptr ? e->message : "";
                finish (p, bluezConnectFault (name, text), text.empty() ? name : text);
            }
            else if (p.fd < 0)
            {
                finish (p, PortFault::other, "BlueZ connected but handed over no socket");
                disconnectLate = true;
            }
            else if (p.abandoned)
            {
                finish (p, PortFault::cancelled, "");
                disconnectLate = true;
            }
            else
            {
                p.result.fd = p.fd;
                p.fd = -1;
                p.done = true;
                self.openLinks[p.devicePath] = p.result.fd;
            }
            const auto it = self.pending.find (p.devicePath);
            if (it != self.pending.end() && it->second.get() == &p)
                self.pending.erase (it);
        }
        if (disconnectLate)
            self.sendDisconnect (p.devicePath);
        self.changed.notify_all();
        return 0;
    }

    //==========================================================================
    // Tasks (bus thread).
    void startConnect (const std::shared_ptr<Pending>& p, int timeoutMs)
    {
        if (! profileRegistered)
        {
            sd_bus_error error = SD_BUS_ERROR_NULL;
            const int r = sd_bus_call_method (bus, bluezService, "/org/bluez", "org.bluez.ProfileManager1", "RegisterProfile",
                                              &error, nullptr, "osa{sv}", profilePath, serialPortProfileUuid, 3,
                                              "Role", "s", "client",
                                              "Name", "s", "Korva serial port",
                                              "AutoConnect", "b", 0);
            const bool already = r < 0 && error.name != nullptr && std::strcmp (error.name, "org.bluez.Error.AlreadyExists") == 0;
            if (r < 0 && ! already)
            {
                const std::string name = error.name != nullptr ? error.name : "";
                const std::string text = error.message != nullptr ? error.message : std::strerror (-r);
                sd_bus_error_free (&error);
                const PortFault fault = bluezConnectFault (name, text);
                {
                    const std::lock_guard<std::mutex> lock (m);
                    finish (*p, fault == PortFault::notPaired ? PortFault::bluetoothUnavailable : fault, text);
                    pending.erase (p->devicePath);
                }
                changed.notify_all();
                return;
            }
            sd_bus_error_free (&error);
            profileRegistered = true;
        }

        sd_bus_message* call = nullptr;
        auto* context = new CallContext { this, p };
        int r = sd_bus_message_new_method_call (bus, &call, bluezService, p->devicePath.c_str(), deviceInterface, "ConnectProfile");
        if (r >= 0)
            r = sd_bus_message_append (call, "s", serialPortProfileUuid);
        if (r >= 0)
            r = sd_bus_call_async (bus, nullptr, call, &Impl::onConnectReply, context, (uint64_t) (timeoutMs + 2000) * 1000u);
        sd_bus_message_unref (call);

        if (r < 0)
        {
            delete context;
            {
                const std::lock_guard<std::mutex> lock (m);
                finish (*p, PortFault::bluetoothUnavailable, std::strerror (-r));
                pending.erase (p->devicePath);
            }
            changed.notify_all();
        }
    }

    void sendDisconnect (const std::string& devicePath)
    {
        if (bus != nullptr)
            sd_bus_call_method_async (bus, nullptr, bluezService, devicePath.c_str(), deviceInterface,
                                      "DisconnectProfile", nullptr, nullptr, "s", serialPortProfileUuid);
    }
};

//==============================================================================
BluezBus::BluezBus() : impl (std::make_unique<Impl>()) {}

namespace
{
    std::atomic<BluezBus*> created { nullptr };
}

BluezBus& BluezBus::instance()
{
    // Never destroyed: its thread may be inside the bus when the process exits.
    static BluezBus* const bus = [] { auto* b = new BluezBus(); created.store (b); return b; }();
    return *bus;
}

void BluezBus::wakeConnecting()
{
    if (BluezBus* const bus = created.load())
    {
        // Under the lock: a connect() between looking at cancelled() and waiting cannot miss it.
        const std::lock_guard<std::mutex> lock (bus->impl->m);
        bus->impl->changed.notify_all();
    }
}

std::vector<BluetoothDevice> BluezBus::pairedSerialDevices()
{
    Impl& d = *impl;
    std::unique_lock<std::mutex> lock (d.m);
    d.changed.wait_for (lock, std::chrono::milliseconds (firstAnswerLimitMs), [&] { return d.firstAnswer; });

    std::vector<BluetoothDevice> list;
    for (const auto& [path, r] : d.devices)
    {
        if (! r.paired || ! r.serialPort || r.address.empty())
            continue;
        const auto adapter = d.adapters.find (r.adapter);
        list.push_back ({ r.address, r.alias, r.paired, r.connected, r.serialPort,
                          adapter == d.adapters.end() || adapter->second });
    }
    std::sort (list.begin(), list.end(), [] (const auto& a, const auto& b) { return a.address < b.address; });
    return list;
}

bool BluezBus::findDevice (const std::string& address, BluetoothDevice& device)
{
    Impl& d = *impl;
    std::unique_lock<std::mutex> lock (d.m);
    d.changed.wait_for (lock, std::chrono::milliseconds (firstAnswerLimitMs), [&] { return d.firstAnswer; });

    const std::string path = d.pathOf (address);
    if (path.empty())
        return false;
    const DeviceRecord& r = d.devices[path];
    const auto adapter = d.adapters.find (r.adapter);
    device = { r.address, r.alias, r.paired, r.connected, r.serialPort, adapter == d.adapters.end() || adapter->second };
    return true;
}

BluetoothConnection BluezBus::connect (const std::string& address, int timeoutMs, bool (*cancelled)())
{
    Impl& d = *impl;
    std::unique_lock<std::mutex> lock (d.m);
    d.changed.wait_for (lock, std::chrono::milliseconds (firstAnswerLimitMs), [&] { return d.firstAnswer; });

    BluetoothConnection refused;
    if (! d.busUp || ! d.bluezUp)
    {
        refused.fault = PortFault::bluetoothUnavailable;
        return refused;
    }

    const std::string path = d.pathOf (address);
    if (path.empty() || ! d.devices[path].paired)
    {
        refused.fault = PortFault::notPaired;
        return refused;
    }

    const auto adapter = d.adapters.find (d.devices[path].adapter);
    if (d.adapters.empty() || (adapter != d.adapters.end() && ! adapter->second))
    {
        refused.fault = d.adapters.empty() ? PortFault::bluetoothUnavailable : PortFault::bluetoothOff;
        return refused;
    }

    if (d.pending.count (path) != 0 || d.openLinks.count (path) != 0)
    {
        refused.fault = PortFault::linkBusy;
        refused.detail = "this program is already connecting or connected to it";
        return refused;
    }

    auto p = std::make_shared<Pending>();
    p->devicePath = path;
    d.pending[path] = p;
    d.tasks.push_back ([&d, p, timeoutMs] { d.startConnect (p, timeoutMs); });
    d.wake();

    // Woken by the bus thread's answers and by wakeConnecting(), not by a clock.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    while (! p->done)
    {
        const bool late = std::chrono::steady_clock::now() >= deadline;
        if (late || (cancelled != nullptr && cancelled()))
        {
            // Whatever BlueZ still hands over is closed and disconnected when it comes.
            p->abandoned = true;
            BluetoothConnection gaveUp;
            gaveUp.fault = late ? PortFault::connectTimeout : PortFault::cancelled;
            return gaveUp;
        }
        d.changed.wait_until (lock, deadline);
    }
    return p->result;
}

void BluezBus::disconnect (const std::string& address)
{
    Impl& d = *impl;
    std::string path;
    {
        const std::lock_guard<std::mutex> lock (d.m);
        path = d.pathOf (address);
        if (path.empty())
            return;
        d.openLinks.erase (path);
    }

    // Wait a moment for the request to leave: a command-line run ends right after.
    auto sent = std::make_shared<std::atomic<bool>> (false);
    d.post ([&d, path, sent] {
        d.sendDisconnect (path);
        if (d.bus != nullptr)
            sd_bus_flush (d.bus);
        sent->store (true);
        d.changed.notify_all();
    });
    std::unique_lock<std::mutex> lock (d.m);
    d.changed.wait_for (lock, std::chrono::milliseconds (200), [&] { return sent->load(); });
}
