#include "cli/Batch.h"

#include "cli/Console.h"
#include "cli/LiveBoard.h"
#include "cli/Session.h"
#include "jobs/TextRules.h"
#include "serial/DeviceIdentity.h"
#include "serial/PortTable.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>

namespace korvacli
{
namespace
{
    /** A port the table cannot hold ends before its job: nothing was opened. */
    int runOn (Output& out, Link& link, const std::string& name, const PortBody& body)
    {
        if (link.portIndex < 0)
        {
            out.doc()["family"] = nullptr;
            return out.finish (exitPortOpen, "\"" + name + "\" is not a serial port name (a device path, or COMn on Windows).");
        }
        return body (out, link);
    }

    struct PortPart
    {
        std::string name;
        std::unique_ptr<Link> link;
        std::unique_ptr<Output> out;
        std::vector<std::string> lines;   // text held for the end while a live board shows the port
        std::vector<std::string> notes;   // and notes for standard error, which would break into the board
        int exitCode = exitOk;
    };
}

int combinedExitCode (const std::vector<int>& codes)
{
    for (const int code : codes)
        if (code != exitOk)
            return code;
    return exitOk;
}

int runOnPorts (const char* command, bool json, const std::vector<std::string>& ports, const PortBody& body)
{
    enumeratePorts();

    if (ports.size() == 1)
    {
        Output out (command, json);
        out.doc()["port"] = ports.front();
        Link link (addPort (ports.front().c_str()));
        return runOn (out, link, ports.front(), body);
    }

    Output all (command, json);
    // The device itself, not the name: a link and its target are one receiver.
    std::set<std::string> devices;
    for (const auto& name : ports)
        if (! devices.insert (deviceKey (name)).second)
            return all.finish (exitUsage, "A port is named twice (" + name
                                              + " is a port already named): each receiver takes one job at a time.");

    std::vector<PortPart> parts (ports.size());
    for (size_t i = 0; i < ports.size(); ++i)
    {
        parts[i].name = ports[i];
        parts[i].link = std::make_unique<Link> (addPort (ports[i].c_str()));
    }

    std::unique_ptr<LiveBoard> board;
    if (! json && isTerminal (stdout) && enableCursorMovement())
    {
        std::vector<const Link*> links;
        for (const auto& p : parts)
            links.push_back (p.link.get());
        board = std::make_unique<LiveBoard> (ports, links);
    }

    for (size_t i = 0; i < parts.size(); ++i)
    {
        Output::BatchView view;
        if (board != nullptr)
        {
            view.line = [&lines = parts[i].lines] (const std::string& text) { lines.push_back (text); };
            view.state = [b = board.get(), i] (const std::string& state) { b->setState (i, state); };
            view.note = [&notes = parts[i].notes] (const std::string& text) { notes.push_back (text); };
        }
        parts[i].out = std::make_unique<Output> (command, json, parts[i].name, std::move (view));
    }

    {
        std::vector<std::thread> threads;
        for (auto& part : parts)
            threads.emplace_back ([&part, &body] { part.exitCode = runOn (*part.out, *part.link, part.name, body); });
        for (auto& t : threads)
            t.join();
    }

    if (board != nullptr)
    {
        board->stop();
        // What each port had to say, now that the live lines are done.
        for (const auto& part : parts)
        {
            for (const auto& line : part.lines)
                writeStdout (TextRules::visible (part.name + ": " + line, true) + "\n");
            const Json& doc = part.out->doc();
            if (doc.contains ("message"))
                writeStdout (TextRules::visible (part.name + ": " + doc["message"].get<std::string>(), true) + "\n");
            for (const auto& note : part.notes)
            {
                std::fputs (("korva: " + TextRules::visible (part.name + ": " + note, true) + "\n").c_str(), stderr);
                std::fflush (stderr);
            }
            if (doc.contains ("error"))
            {
                std::fputs ((TextRules::visible (part.name + ": " + doc["error"].get<std::string>(), true) + "\n").c_str(), stderr);
                std::fflush (stderr);
            }
        }
    }

    std::vector<int> codes;
    Json results = Json::array();
    for (const auto& part : parts)
    {
        codes.push_back (part.exitCode);
        results.push_back (part.out->orderedDocument());
    }
    all.doc()["results"] = results;

    const int code = combinedExitCode (codes);
    std::string summary;
    if (code != exitOk)
    {
        const auto failed = std::count_if (codes.begin(), codes.end(), [] (int c) { return c != exitOk; });
        const auto first = std::find_if (parts.begin(), parts.end(), [] (const PortPart& p) { return p.exitCode != exitOk; });
        summary = std::to_string (failed) + " of " + std::to_string (parts.size()) + " ports failed; the exit status is "
                + first->name + "'s.";
    }
    return all.finish (code, summary);
}
}
