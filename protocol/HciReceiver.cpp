#include "protocol/HciReceiver.h"

#include "protocol/HciDecoder.h"
#include "protocol/Pass.h"
#include "protocol/PortRead.h"

namespace
{
static_assert (sizeof (Link::hciReply) >= HciAssembler::maxParams,
               "hciReply holds the longest accepted event");

/** Works through the buffered bytes up to the first complete event and decodes
    it; the rest stays buffered for the next poll, so hciReply still holds this
    event when the conversation looks at it. */
EventResult processBuffered (JobContext& worker)
{
    Link& link = worker.link;
    while (! link.hciRx.isEmpty())
        if (link.hciAssembler.step (link.hciRx.take(), link.hciReply))
            return decodeHciEvent (link.device, link.hciReply, link.hciAssembler.expectedLength);
    return EventResult::None;
}
}

EventResult pollHciEvents (JobContext& worker, bool reset)
{
    Link& link = worker.link;
    if (reset)
    {
        link.hciAssembler.reset();
        link.hciRx.clear();
        link.waitTicks = replyPassLimit;
        return EventResult::None;
    }
    readPortInto (link.hciRx, worker.portIndex);
    return processBuffered (worker);
}

EventResult feedHciEvents (JobContext& worker, const uint8_t* bytes, int n)
{
    if (bytes != nullptr && n > 0)
        (void) worker.link.hciRx.append (bytes, n);
    return processBuffered (worker);
}
