#pragma once
// POSIX backend internals, exposed for tests and benchmarks: enumeration from
// an arbitrary sysfs tty directory and device directory.

/** Environment variable naming extra device paths, colon-separated (ptys, symlinks). */
constexpr const char* extraPortsVariable = "KORVA_EXTRA_PORTS";

/** Rebuilds the table from the tty class directory sysClassTty (normally /sys/class/tty),
    naming devices under devDir (normally /dev), followed by those paths of extraPorts
    (colon-separated, may be null) that currently exist. Returns the new count, or 0
    with the previous table kept when memory runs out. */
int enumeratePortsIn (const char* sysClassTty, const char* devDir, const char* extraPorts);

/** Orders tty names naturally: digit runs compare by value (ttyS2 before ttyS10). */
bool naturalLess (const char* a, const char* b);

/** The latency timer of USB serial device ttyName as usbSerialDir (normally
    /sys/bus/usb-serial/devices) tells it, in ms; -1 when it does not. */
int latencyTimerMsIn (const char* usbSerialDir, const char* ttyName);
