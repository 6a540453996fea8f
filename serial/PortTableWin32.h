#pragma once
// Windows-only additions to PortTable.h, for tests.

#include <cstddef>

/** Rebuilds the table from a DOS device name list laid out as QueryDosDevice
    returns it (enumeratePorts passes the system's list); returns the new count. */
int enumeratePortsFromList (const char* dosDeviceNames, std::size_t length);
