#include "protocol/PortRead.h"

#include "serial/PortTable.h"

#include <cstdint>

void readPortInto (ByteRing& ring, int portIndex)
{
    const int index = static_cast<uint8_t> (portIndex);
    if (index >= portCount())
        return;
    uint8_t chunk[readChunkSize];
    const int got = readPort (index, chunk);
    if (got > 0)
        (void) ring.append (chunk, got);
}
