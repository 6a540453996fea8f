#include "cli/Scan.h"

#include "cli/Console.h"
#include "cli/Output.h"
#include "cli/Session.h"
#include "jobs/SettingsForm.h"
#include "serial/PortTable.h"
#include "serial/SystemConsole.h"

#include <algorithm>
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
            case ScanEntry::State::interrupted: return "interrupted";
        }
        return "";
    }

    void probe (ScanEntry& entry, int index)
    {
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
            entry.state = ScanEntry::State::unavailable;
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
            char code[8];
            std::snprintf (code, sizeof (code), "0x%02X", e.device.typeCode);
            j["family"] = e.slowBaud ? "zvarnelo" : "rulko";
            j["typeCode"] = code;
            j["model"] = modelNameFor (e.device.typeCode);
            const auto version = versionText (e.device.typeCode, e.device.versionMajor, e.device.versionMinor);
            j["version"] = version.empty() ? Json() : Json (version);
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
    const int listed = enumeratePorts();

    std::vector<int> indexes;
    for (int i = 0; i < listed; ++i)
        indexes.push_back (i);
    std::vector<bool> wasNamed (indexes.size(), false);

    for (const auto& name : named)
    {
        const int index = addPort (name.c_str());
        if (index < 0)
            continue;
        const auto at = std::find (indexes.begin(), indexes.end(), index);
        if (at == indexes.end())
        {
            indexes.push_back (index);
            wasNamed.push_back (true);
        }
        else
        {
            wasNamed[(size_t) (at - indexes.begin())] = true;
        }
    }

    // A port to leave alone is found by what the table makes of its name.
    std::vector<int> skipped;
    for (const auto& name : skip)
    {
        const int index = addPort (name.c_str());
        skipped.push_back (index);
        if (index >= 0 && std::find (indexes.begin(), indexes.end(), index) == indexes.end())
        {
            indexes.push_back (index);
            wasNamed.push_back (false);
        }
    }

    std::vector<ScanEntry> entries (indexes.size());
    std::vector<std::thread> probes;
    for (size_t i = 0; i < indexes.size(); ++i)
    {
        const char* device = portDeviceName (indexes[i]);
        entries[i].port = portDisplayName (indexes[i]);

        if (std::find (skipped.begin(), skipped.end(), indexes[i]) != skipped.end())
        {
            entries[i].state = ScanEntry::State::skipped;
            entries[i].reason = "named with --skip";
            continue;
        }
        if (! wasNamed[i] && device != nullptr && isSystemConsole (device))
        {
            entries[i].state = ScanEntry::State::skipped;
            entries[i].reason = consoleReason;
            continue;
        }
        probes.emplace_back ([&entry = entries[i], index = indexes[i]] { probe (entry, index); });
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
        std::fprintf (stderr, "korva: no PORT given; using %s, the only receiver found (%s)\n", only.port.c_str(),
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
