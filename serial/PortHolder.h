#pragma once
// Which other program holds a serial port, told without opening the port: its
// open descriptors under /proc (Linux) and the UUCP lock files that minicom and
// picocom leave in /run/lock or /var/lock. For a pseudo-terminal, the program
// holding its master is the device's own end (a simulator, a bridge), not
// another user of the port. Windows tells only when an open fails (always).

#include <string>

/** "minicom (process 1234)" for the first other program found holding the
    device at path, "a program (process 1234)" when its name cannot be read, or
    "" when no other program is known to hold it. */
std::string portHolder (const std::string& path);

/** The same, with the places to look named, for tests on fake trees. */
std::string portHolderIn (const std::string& path, const std::string& proc, const std::string& lockDirs);
