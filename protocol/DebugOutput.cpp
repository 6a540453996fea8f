#include "protocol/DebugOutput.h"

#include <atomic>
#include <cstdio>

namespace
{
    std::atomic<bool> enabled { true };
}

void debugOutput (const std::string& text)
{
    if (! enabled.load())
        return;

    std::fwrite (text.data(), 1, text.size(), stderr);
    std::fflush (stderr);
}

void setDebugOutputEnabled (bool on)
{
    enabled.store (on);
}
