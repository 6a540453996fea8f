#pragma once
// Which device a port name stands for, so one device under two names (a
// symlink and its target, a /dev/serial/by-id/ name and /dev/ttyUSB0, com3 and
// COM3) is known as one. Read without opening anything.

#include <string>

/** A key equal for every name of the same device: POSIX, the device number of
    the character device the name resolves to, else the resolved path, else the
    name itself; Windows, the COM name without its device prefix, in capitals. */
std::string deviceKey (const std::string& name);
