#include "cli/Output.h"

#include "cli/Session.h"

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

void Output::line (const std::string& text) const
{
    if (! asJson)
        writeStdout (text + "\n");
}

void Output::note (const std::string& text) const
{
    std::fprintf (stderr, "korva: %s\n", text.c_str());
    std::fflush (stderr);
}

void Output::event (const Json& value) const
{
    writeStdout (dumpJson (value) + "\n");
}

int Output::finish (int exitCode, const std::string& message)
{
    if (asJson)
    {
        document["ok"] = exitCode == 0;
        document["exitCode"] = exitCode;
        if (! message.empty())
            document[exitCode == 0 ? "message" : "error"] = message;

        Json ordered;
        for (const char* key : leadingKeys)
            if (document.contains (key))
                ordered[key] = document[key];
        for (const auto& [key, value] : document.items())
            if (! ordered.contains (key))
                ordered[key] = value;

        writeStdout (dumpJson (ordered) + "\n");
    }
    else if (! message.empty())
    {
        if (exitCode == 0)
        {
            writeStdout (message + "\n");
        }
        else
        {
            std::fputs ((message + "\n").c_str(), stderr);
            std::fflush (stderr);
        }
    }

    std::string why;
    if (stdoutLost (&why))
    {
        note ("the output could not be written (" + why + "); the command itself ran to its end"
              + (exitCode == 0 ? "." : " and failed (exit status " + std::to_string (exitCode) + ")."));
        return exitCode == 0 ? exitOutputLost : exitCode;
    }

    return exitCode;
}
}
