#include "protocol/DebugOutput.h"

#include <cstdio>

void debugOutput (const std::string& text)
{
    std::fwrite (text.data(), 1, text.size(), stderr);
    std::fflush (stderr);
}
