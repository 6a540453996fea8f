#pragma once
// Whether a serial port is the system's console (the serial console of a
// Raspberry Pi or of a virtual machine): a getty or the kernel reads and writes
// it, so a probe would type into its login prompt and change its baud rate.
// Read from Linux's files; where they do not exist (Windows) no port is one.

#include <string>

/** True when the device behind devicePath (links followed) is listed in
    procConsoles (normally /proc/consoles) or its tty's "console" attribute in
    sysClassTty (normally /sys/class/tty) says Y. */
bool isSystemConsole (const std::string& devicePath,
                      const std::string& procConsoles = "/proc/consoles",
                      const std::string& sysClassTty = "/sys/class/tty");
