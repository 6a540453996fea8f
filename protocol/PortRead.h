#pragma once
// The read at the start of every poll: one non-blocking read of the job's port
// into a receiver's ring.

#include "protocol/ByteRing.h"

/** When portIndex, taken as an unsigned 8-bit value, is a valid PortTable index:
    one readPort of at most the ring's free room, appended to it. */
void readPortInto (ByteRing& ring, int portIndex);
