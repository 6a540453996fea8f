#pragma once
// Windows-only additions to PortTable.h: for tests, and between the table and
// its port descriptions.

#include <cstddef>

/** Rebuilds the table from a DOS device name list laid out as QueryDosDevice
    returns it (enumeratePorts passes the system's list); returns the new count. */
int enumeratePortsFromList (const char* dosDeviceNames, std::size_t length);

/** Drops the cached descriptions of ports other than COM portNumbers[0..count),
    so a port that leaves the table and comes back is described afresh. */
void forgetUnlistedPortDescriptions (const int* portNumbers, int count);
