#include "protocol/PortRead.h"

#include "serial/PortTable.h"

#include <cstdint>

void readPortInto (ByteRing& ring, int portIndex)
{
    const int index = static_cast<uint8_t> (portIndex);
    if (index >= portCount())
        return;
    // Only as much as the ring has room for: the rest waits in the driver for
    // the next poll, so a burst is never dropped.
    const int room = ring.size - 1 - ring.held();
    if (room <= 0)
        return;
    uint8_t chunk[readChunkSize];
    const int got = readPort (index, chunk, room < readChunkSize ? room : readChunkSize);
    if (got > 0)
        (void) ring.append (chunk, got);
}
