#include "cli/Output.h"

#include <cstdio>

namespace korvacli
{
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
    if (asJson)
        return;

    std::fputs (text.c_str(), stdout);
    std::fputc ('\n', stdout);
    std::fflush (stdout);
}

void Output::note (const std::string& text) const
{
    std::fprintf (stderr, "korva: %s\n", text.c_str());
    std::fflush (stderr);
}

void Output::event (const Json& value) const
{
    std::puts (dumpJson (value).c_str());
    std::fflush (stdout);
}

int Output::finish (int exitCode, const std::string& message)
{
    if (asJson)
    {
        document["ok"] = exitCode == 0;
        document["exitCode"] = exitCode;
        if (! message.empty())
            document[exitCode == 0 ? "message" : "error"] = message;
        std::puts (dumpJson (document).c_str());
        std::fflush (stdout);
        return exitCode;
    }

    if (! message.empty())
    {
        std::FILE* stream = exitCode == 0 ? stdout : stderr;
        std::fputs (message.c_str(), stream);
        std::fputc ('\n', stream);
        std::fflush (stream);
    }

    return exitCode;
}
}
