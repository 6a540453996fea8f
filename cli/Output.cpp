#include "cli/Output.h"

#include "cli/Session.h"
#include "jobs/TextRules.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace korvacli
{
namespace
{
    std::mutex stdoutLock;
    std::atomic<bool> lost { false };
    std::string lostReason;   // under stdoutLock

    // The keys every document starts with, in this order; the command's own follow.
    const char* const leadingKeys[] = { "command", "ok", "exitCode", "error", "message" };
}

void writeStdout (const std::string& text)
{
    const std::lock_guard<std::mutex> lock (stdoutLock);
    if (lost.load())
        return;   // a reader that went away stays away: later output is dropped too

    errno = 0;
    const bool written = std::fwrite (text.data(), 1, text.size(), stdout) == text.size();
    if (written && std::fflush (stdout) == 0)
        return;

    lostReason = errno != 0 ? std::strerror (errno) : "write error";
    lost.store (true);
    std::clearerr (stdout);
}

bool stdoutLost (std::string* why)
{
    if (! lost.load())
        return false;
    if (why != nullptr)
    {
        const std::lock_guard<std::mutex> lock (stdoutLock);
        *why = lostReason;
    }
    return true;
}

std::string dumpJson (const Json& value)
{
    return value.dump (-1, ' ', false, Json::error_handler_t::replace);
}

Output::Output (const char* command, bool json) : asJson (json)
{
    document["command"] = command;
    document["ok"] = true;
    document["exitCode"] = 0;
}

Output::Output (const char* command, bool json, std::string port, BatchView batchView)
    : Output (command, json)
{
    portName = std::move (port);
    view = std::move (batchView);
    document["port"] = portName;
}

void Output::state (const std::string& text) const
{
    if (view.state)
        view.state (text);
}

void Output::line (const std::string& rawText) const
{
    if (asJson)
        return;
    const std::string text = TextRules::visible (rawText, true);
    if (view.line)
        view.line (text);
    else
        writeStdout ((portName.empty() ? text : portName + ": " + text) + "\n");
}

void Output::note (const std::string& text) const
{
    if (view.note)
    {
        view.note (text);
        return;
    }
    const std::string where = portName.empty() ? std::string() : portName + ": ";
    std::fprintf (stderr, "korva: %s\n", TextRules::visible (where + text, true).c_str());
    std::fflush (stderr);
}

void Output::event (const Json& value) const
{
    if (portName.empty())
    {
        writeStdout (dumpJson (value) + "\n");
        return;
    }
    Json tagged;
    tagged["event"] = value.value ("event", "");
    tagged["port"] = portName;
    for (const auto& [key, item] : value.items())
        if (! tagged.contains (key))
            tagged[key] = item;
    writeStdout (dumpJson (tagged) + "\n");
}

Json Output::orderedDocument() const
{
    Json ordered;
    for (const char* key : leadingKeys)
        if (document.contains (key))
            ordered[key] = document[key];
    for (const auto& [key, value] : document.items())
        if (! ordered.contains (key))
            ordered[key] = value;
    return ordered;
}

int Output::finish (int exitCode, const std::string& message)
{
    document["ok"] = exitCode == 0;
    document["exitCode"] = exitCode;
    if (! message.empty())
        document[exitCode == 0 ? "message" : "error"] = message;

    if (asJson)
    {
        if (portName.empty())
            writeStdout (dumpJson (orderedDocument()) + "\n");
    }
    else if (! message.empty() && ! view.line)
    {
        // The message may carry a string from outside (a holder's name, a key of a document).
        const std::string text = TextRules::visible (portName.empty() ? message : portName + ": " + message, true);
        if (exitCode == 0)
        {
            writeStdout (text + "\n");
        }
        else
        {
            std::fputs ((text + "\n").c_str(), stderr);
            std::fflush (stderr);
        }
    }

    if (view.state)
        view.state (exitCode == 0 ? "done" : "failed");

    // The batch decides about lost output once, for all its ports.
    return portName.empty() ? checkOutputLost (exitCode) : exitCode;
}

int Output::checkOutputLost (int exitCode)
{
    std::string why;
    if (! stdoutLost (&why))
        return exitCode;

    std::fprintf (stderr, "korva: the output could not be written (%s); the command itself ran to its end%s\n",
                  why.c_str(),
                  exitCode == 0 ? "." : (" and failed (exit status " + std::to_string (exitCode) + ").").c_str());
    std::fflush (stderr);
    return exitCode == 0 ? exitOutputLost : exitCode;
}
}
