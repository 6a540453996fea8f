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

/** Number of valid entries. */
int portCount();

/** Path to open for entry index, or nullptr for an invalid index. Valid until the next call. */
const char* portDeviceName (int index);

/** Name shown to the user for entry index, or nullptr for an invalid index. Valid until the next call. */
const char* portDisplayName (int index);

/** Opens and configures entry index at baudRate (8N1, raw, non-blocking reads). 1 on success, 0 on failure. */
int openPort (int index, uint32_t baudRate);

/** One non-blocking read of at most 256 bytes: bytes read, 0 when nothing (or the device is gone), -1 for an invalid index. */
int readPort (int index, uint8_t* buffer);

/** One write of count bytes: bytes written, 0 on failure, -1 for an invalid index. */
int writePort (int index, const uint8_t* bytes, int count);

/** Closes entry index when it is open; otherwise nothing. */
void closePort (int index);

/** Closes every open entry. */
void closeAllPorts();

/** Tests: closes every port and empties the table. */
void resetPortTable();
