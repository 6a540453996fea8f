#pragma once
// The process-wide table of serial ports present, and raw byte I/O on one of
// them. Everything above this layer names a port by its index in the table.
// One implementation file per platform stands behind this interface.

#include <cstdint>

/** Most ports the table lists; ports found beyond it are ignored. */
constexpr int maxPorts = 64;

/** Largest chunk one readPort call returns. */
constexpr int readChunkSize = 256;

/** Rebuilds the table from the ports present (all entries closed); returns the new count. */
int enumeratePorts();

/** Adds a port the enumeration did not list, named as the user names it (a device
    path on POSIX, COMn on Windows), after the entries present, and returns its index;
    returns the entry's index when the table already has it. -1 when the name cannot
    name a port or the table is full. Whether the device exists shows on opening it. */
int addPort (const char* name);

/** Number of valid entries. */
int portCount();

/** Path to open for entry index, or nullptr for an invalid index. Valid until the next call. */
const char* portDeviceName (int index);

/** Name shown to the user for entry index, or nullptr for an invalid index. Valid until the next call. */
const char* portDisplayName (int index);

/** Opens and configures entry index at baudRate (8N1, raw, non-blocking reads). 1 on success, 0 on failure. */
int openPort (int index, uint32_t baudRate);

/** One non-blocking read of at most maxBytes (at most 256): bytes read, 0 when nothing
    (or the device is gone), -1 for an invalid index. Bytes beyond maxBytes stay in the
    driver for the next read, so a caller with little room loses nothing. */
int readPort (int index, uint8_t* buffer, int maxBytes = readChunkSize);

/** One write of count bytes: bytes written, 0 on failure, -1 for an invalid index.
    Nothing is written while port waits are interrupted (the job is being stopped).
    A write that cannot make progress gives up after writeStallLimitMs, and at once
    when port waits are interrupted; it then returns the bytes written so far. */
int writePort (int index, const uint8_t* bytes, int count);

/** Longest time a write waits for the line to take more bytes. */
constexpr int writeStallLimitMs = 2000;

//==============================================================================
// Waiting on a port. A job waits here for its receiver's next bytes instead of
// sleeping, and the exit request wakes it through interruptPortWaits().

enum class PortWait : uint8_t
{
    readable,      // bytes are waiting to be read
    timeout,       // nothing arrived within the time given
    lost,          // the device hung up or vanished (portLost is now true)
    interrupted    // interruptPortWaits() was called
};

/** Waits until entry index has bytes to read, its device is lost, timeoutMs have
    passed, or port waits are interrupted. An invalid or closed entry counts as lost.
    timeoutMs 0 only looks. */
PortWait waitPort (int index, int timeoutMs);

/** True when the open entry's device hung up, vanished or failed for good since it
    was opened (a pulled adapter, a dropped Bluetooth link); true for an invalid or
    closed entry. Reads and writes on a lost port return 0. */
bool portLost (int index);

/** Any thread: wakes a waitPort or stalled writePort in progress and makes later
    ones return at once, until clearPortInterrupt(). */
void interruptPortWaits();

/** Ends the interruption; a new job calls it before it opens its port. */
void clearPortInterrupt();

bool portWaitsInterrupted();

//==============================================================================
// Why a port could not be opened, for a message the user can act on.

enum class PortFault : uint8_t
{
    none,
    noSuchEntry,      // invalid index: no port chosen
    permission,       // the user may not open the device (POSIX: not in the dialout group)
    busy,             // another program holds the port
    gone,             // the device is no longer there
    baudRefused,      // the driver or adapter does not take the baud rate
    settingsRefused,  // the line settings did not take
    notSerial,        // the path names a directory, a file or a device that is no terminal
    bluetoothOff,          // Bluetooth is switched off on this computer
    bluetoothUnavailable,  // no Bluetooth service (BlueZ) or no adapter
    receiverUnreachable,   // the receiver is off or out of range
    notPaired,             // the receiver is no longer paired
    connectTimeout,        // the Bluetooth connection did not come up in time
    linkBusy,              // another program or device is connected to the receiver
    cancelled,             // the job was stopped while the port was being opened
    other
};

struct PortOpenError
{
    PortFault fault = PortFault::none;
    int systemError = 0;      // errno, or GetLastError() on Windows
    char holder[96] = {};     // the program holding a busy port, when the system says ("" if unknown)
};

/** The reason the last openPort on this thread failed; fault none after a successful one. */
PortOpenError lastOpenError();

/** The USB serial adapter's latency timer of the open entry, in ms, where the
    system tells it (Linux: sysfs); -1 when unknown. Adapters hold received
    bytes back up to this long, and a lock-step update waits on every one. */
int portLatencyTimerMs (int index);

/** Which device the entry's last successful openPort found (POSIX: the device and
    inode numbers of the node opened), so a receiver swapped behind the same name
    can be told from the one detected; 0 before any opening, or where the system
    cannot tell (Windows: a swap shows as the port's removal or a failed open). */
uint64_t portDeviceIdentity (int index);

/** True while an openPort of entry index is still connecting (a Bluetooth link
    coming up, which takes seconds); any thread, for the window's connecting state. */
bool portConnecting (int index);

/** Closes entry index when it is open; otherwise nothing. Output the line has not
    taken within 200 ms is discarded (a stalled line would otherwise hold the close
    for the driver's drain limit, up to 30 s). Safe against a second close from
    another thread: a descriptor is closed exactly once. */
void closePort (int index);

/** Closes every open entry. */
void closeAllPorts();
