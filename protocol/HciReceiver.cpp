#include "protocol/HciReceiver.h"

#include "protocol/HciDecoder.h"
#include "protocol/Pass.h"
#include "protocol/PortRead.h"

namespace
{
uint8_t hciStorage[hciRingSize];
ByteRing ring (hciStorage, hciRingSize);
HciAssembler assembler;

static_assert (sizeof (JobContext::hciReply) >= HciAssembler::maxParams,
               "hciReply holds the longest accepted event");

EventResult processBuffered (JobContext& worker)
{
    EventResult result = EventResult::None;
    while (! ring.isEmpty())
        if (assembler.step (ring.take(), worker.hciReply))
            result = decodeHciEvent (worker.hciReply, assembler.expectedLength);
    return result;
}
}

ByteRing& hciRing() { return ring; }
HciAssembler& hciAssembler() { return assembler; }

void resetHciReceiver()
{
    assembler.reset();
    ring.clear();
}

EventResult pollHciEvents (JobContext& worker, bool reset)
{
    if (reset)
    {
        resetHciReceiver();
        worker.waitTicks = replyPassLimit;
        return EventResult::None;
    }
    readPortInto (ring, worker.portIndex);
    return processBuffered (worker);
}

EventResult feedHciEvents (JobContext& worker, const uint8_t* bytes, int n)
{
    if (bytes != nullptr && n > 0)
        (void) ring.append (bytes, n);
    return processBuffered (worker);
}
