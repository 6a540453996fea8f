#pragma once
// POSIX test helpers: make a pty visible as a port of the PortTable and open it.

#include "serial/PortTable.h"

#include <cstdlib>
#include <cstring>
#include <string>

/** Lists path as an extra port, rebuilds the table and returns the path's index (-1 if absent). */
inline int registerPort (const std::string& path)
{
    ::setenv ("KORVA_EXTRA_PORTS", path.c_str(), 1);
    const int count = enumeratePorts();
    for (int i = 0; i < count; ++i)
        if (const char* name = portDeviceName (i); name != nullptr && path == name)
            return i;
    return -1;
}
