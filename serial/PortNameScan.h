#pragma once
// Finding COMn port numbers in a Windows DOS device name list: consecutive
// zero-terminated names, the list closed by an empty name (QueryDosDevice
// with no device name). Pure functions, so they build and are tested on
// every platform.

#include <cstddef>

/** Scans the name list from cursor for the next name matching "COM" and one to
    three decimal digits (COM1 to COM999, wherever the name stands in the list).
    Returns that number and leaves cursor after the name. Names carrying the number 0
    ("COM0", or a name ending in "COM") are skipped like other devices. Returns 0 at
    the end of the list, where cursor then stays on the closing empty name. listEnd bounds
    the buffer: the scan never reads at or past it, and reaching it counts as the
    end of the list. */
int scanNextPort (const char*& cursor, const char* listEnd);

/** Collects the port numbers of a name list in the order found, at most maxCount:
    runs scanNextPort until it yields 0 or the output is full. Returns how many. */
int collectPortNumbers (const char* list, std::size_t length, int* numbers, int maxCount);

/** The port number a user's name for a port gives: "COMn" in any letter case,
    optionally after the "\\.\" or "//./" device prefix, n from 1 to 999.
    0 when the name is not such a port. */
int portNumberOf (const char* name);
