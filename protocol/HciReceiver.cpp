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

/** Works through the buffered bytes up to the first complete event and decodes
    it; the rest stays buffered for the next poll, so hciReply still holds this
    event when the conversation looks at it. */
EventResult processBuffered (JobContext& worker)
{
    while (! ring.isEmpty())
        if (assembler.step (ring.take(), worker.hciReply))
            return decodeHciEvent (worker.hciReply, assembler.expectedLength);
    return EventResult::None;
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
