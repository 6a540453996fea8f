#include "cli/Scan.h"

#include "cli/Console.h"
#include "cli/Output.h"
#include "cli/Session.h"
#include "jobs/SettingsForm.h"
#include "jobs/TextRules.h"
#include "serial/DeviceIdentity.h"
#include "serial/PortHolder.h"
#include "serial/PortTable.h"
#include "serial/SystemConsole.h"

#include <algorithm>
#include <map>
#include <set>
#include <cstdio>
#include <thread>

namespace korvacli
{
namespace
{
    const char* const consoleReason = "the system's console: a probe would type into its login prompt and change its "
                                      "baud rate (name it to probe it anyway)";

    const char* stateName (ScanEntry::State state)
    {
        switch (state)
        {
            case ScanEntry::State::receiver:    return "receiver";
            case ScanEntry::State::silent:      return "silent";
            case ScanEntry::State::skipped:     return "skipped";
            case ScanEntry::State::unavailable: return "unavailable";
            case ScanEntry::State::unreachable: return "unreachable";
            case ScanEntry::State::interrupted: return "interrupted";
        }
        return "";
    }

    void probe (ScanEntry& entry, int index)
    {
        // A port another program holds is left alone, not opened to find out.
        if (const auto holder = portHolder (portDeviceName (index)); ! holder.empty())
        {
            entry.state = ScanEntry::State::unavailable;
            entry.reason = "in use by another program: " + holder;
            return;
        }

        Link link (index);
        bool slow = false;
        const auto result = detectDevice (link, Family::automatic, slow);

        if (result.exitCode == exitOk)
        {
            entry.state = ScanEntry::State::receiver;
            entry.slowBaud = slow;
            entry.device = link.device;
        }
        else if (result.exitCode == exitPortOpen)
        {
            // A paired receiver that is off or out of range is there, just not now.
            const auto fault = lastOpenError().fault;
            const bool away = fault == PortFault::receiverUnreachable || fault == PortFault::connectTimeout;
            entry.state = away ? ScanEntry::State::unreachable : ScanEntry::State::unavailable;
            entry.reason = result.message.substr (0, result.message.find ('\n'));
        }
        else if (result.exitCode == exitInterrupted)
        {
            entry.state = ScanEntry::State::interrupted;
        }
    }

    Json entryJson (const ScanEntry& e)
    {
        Json j;
        j["port"] = e.port;
        j["state"] = stateName (e.state);
        if (e.state == ScanEntry::State::receiver)
        {
            j["family"] = e.slowBaud ? "zvarnelo" : "rulko";
            j.update (deviceJson (e.device));
        }
        else
        {
            j["reason"] = e.reason.empty() ? Json() : Json (e.reason);
        }
        return j;
    }

    std::string entryText (const ScanEntry& e)
    {
        char line[256];
        if (e.state == ScanEntry::State::receiver)
        {
            const auto version = versionText (e.device.typeCode, e.device.versionMajor, e.device.versionMinor);
            std::snprintf (line, sizeof (line), "%-20s %-9s 0x%02X  %-12s %s", e.port.c_str(),
                           e.slowBaud ? "zvarnelo" : "rulko", e.device.typeCode, modelNameFor (e.device.typeCode),
                           version.c_str());
            std::string text = line;
            return text.substr (0, text.find_last_not_of (' ') + 1);
        }
        if (e.state == ScanEntry::State::silent)
            return e.port + "  nothing answered";
        return e.port + "  " + stateName (e.state) + (e.reason.empty() ? "" : ": " + e.reason);
    }

    /** Listed whatever --all says: what was found, and what could not be looked at. */
    bool alwaysListed (const ScanEntry& e)
    {
        return e.state != ScanEntry::State::silent;
    }

    std::vector<ScanEntry> receiversIn (const std::vector<ScanEntry>& entries)
    {
        std::vector<ScanEntry> found;
        std::copy_if (entries.begin(), entries.end(), std::back_inserter (found),
                      [] (const ScanEntry& e) { return e.state == ScanEntry::State::receiver; });
        return found;
    }
}

std::vector<ScanEntry> scanPorts (const std::vector<std::string>& named, const std::vector<std::string>& skip)
{
    // Ports the listing lacks join the table after the listed ones, so the
    // table is the whole scan, in its own order.
    // A device is one entry whatever the names it goes by: the table's name for
    // it is kept, a named link to it joins it, and --skip takes either name.
    enumeratePorts();
    std::map<std::string, int> byDevice;
    std::vector<bool> duplicate;
    auto indexOf = [&] (const std::string& name)
    {
        const auto key = deviceKey (name);
        if (const auto known = byDevice.find (key); known != byDevice.end())
            return known->second;
        const int index = addPort (name.c_str());
        if (index >= (int) duplicate.size())
            duplicate.resize ((size_t) index + 1, false);
        if (index >= 0)
            byDevice.emplace (key, index);
        return index;
    };
    for (int i = 0; i < portCount(); ++i)
    {
        const auto key = deviceKey (portDeviceName (i));
        duplicate.push_back (byDevice.count (key) != 0);
        byDevice.emplace (key, i);
    }

    std::set<int> namedIndexes, skipped;
    for (const auto& name : named)
        namedIndexes.insert (indexOf (name));
    for (const auto& name : skip)
        skipped.insert (indexOf (name));

    std::vector<ScanEntry> entries;
    entries.reserve ((size_t) portCount());
    std::vector<std::thread> probes;
    for (int i = 0; i < portCount(); ++i)
    {
        if (duplicate[(size_t) i])
            continue;   // listed under its first name
        entries.emplace_back();
        ScanEntry& entry = entries.back();
        const char* device = portDeviceName (i);
        entry.port = portDisplayName (i);

        if (skipped.count (i) != 0)
        {
            entry.state = ScanEntry::State::skipped;
            entry.reason = "named with --skip";
            continue;
        }
        if (namedIndexes.count (i) == 0 && device != nullptr && isSystemConsole (device))
        {
            entry.state = ScanEntry::State::skipped;
            entry.reason = consoleReason;
            continue;
        }
        probes.emplace_back ([&entry, i] { probe (entry, i); });
    }
    for (auto& t : probes)
        t.join();

    return entries;
}
int scanCommand (const CommonOptions& options, bool all)
{
    Output out ("scan", options.json);
    if (! options.json)
        out.note ("probing every port at both families' rates; this takes a few seconds");

    const auto entries = scanPorts (options.ports, options.skip);

    Json list = Json::array();
    for (const auto& e : entries)
    {
        if (! all && ! alwaysListed (e))
            continue;
        list.push_back (entryJson (e));
        out.line (entryText (e));
    }
    out.doc()["ports"] = list;

    if (interrupted())
        return out.finish (exitInterrupted, "Interrupted.");

    const auto found = receiversIn (entries);
    if (found.empty())
        return out.finish (exitNoAnswer, "No receiver answered on any port.");
    return out.finish (exitOk);
}

int useOnlyReceiver (const char* command, CommonOptions& options)
{
    const auto entries = scanPorts ({});
    const auto found = receiversIn (entries);

    if (found.size() == 1 && ! interrupted())
    {
        const auto& only = found.front();
        options.ports = { only.port };
        if (! options.familyGiven)
        {
            options.family = only.slowBaud ? Family::zvarnelo : Family::rulko;
            options.familyGiven = true;
        }
        std::fprintf (stderr, "korva: no PORT given; using %s, the only receiver found (%s)\n", TextRules::visible (only.port).c_str(),
                      modelNameFor (only.device.typeCode));
        std::fflush (stderr);
        return -1;
    }

    Output out (command, options.json);
    Json list = Json::array();
    std::string text;
    for (const auto& e : entries)
    {
        if (! alwaysListed (e))
            continue;
        list.push_back (entryJson (e));
        text += "\n  " + entryText (e);
    }
    out.doc()["ports"] = list;

    if (interrupted())
        return out.finish (exitInterrupted, "Interrupted.");
    if (found.empty())
        return out.finish (exitUsage, "No PORT given, and no receiver answered on any port: name the port." + text);
    return out.finish (exitUsage, "No PORT given, and " + std::to_string (found.size())
                                      + " receivers answered: name the port (or ports) to use." + text);
}
}
