#include "protocol/EventReceiver.h"

#include "protocol/Commands.h"
#include "protocol/EventDecoder.h"
#include "protocol/Frame.h"
#include "protocol/Pass.h"
#include "protocol/PortRead.h"
#include "protocol/Trace.h"
#include "protocol/Transmit.h"

namespace
{
EventResult processBuffered (JobContext& worker)
{
    Link& link = worker.link;
    FrameAssembler& assembler = link.assembler;

    while (! link.rx.isEmpty() && ! assembler.frameComplete)
        assembler.step (link.rx.take());

    if (! assembler.frameComplete)
        return EventResult::None;

    assembler.frameComplete = false;

    // An opcode without parameters carries nothing to decode or acknowledge.
    if (assembler.frameLength == 1)
        return EventResult::None;

    uint8_t frame[FrameAssembler::maxBody + 4];
    const int frameBytes = assembler.copyFrame (frame);
    trace (link, traceLabelEvent, frame, frameBytes);

    const uint8_t opcode = assembler.body[0];
    if (opcode != evtCommandAck)
        (void) link.acks.append (&opcode, 1);

    const EventResult result = decodeEvent (link.device, assembler.body, assembler.bodyCount);

    while (! link.acks.isEmpty())
    {
        const int length = encodeEventAck (link.tx, link.acks.take());
        sendPacket (worker, traceLabelAck, link.tx, length);
    }
    return result;
}
}

EventResult pollEvents (JobContext& worker, bool reset)
{
    Link& link = worker.link;
    if (reset)
    {
        link.assembler.reset();
        link.rx.clear();
        link.acks.clear();
        link.waitTicks = replyPassLimit;
        return EventResult::None;
    }
    readPortInto (link.rx, worker.portIndex);
    return processBuffered (worker);
}

EventResult feedEvents (JobContext& worker, const uint8_t* bytes, int n)
{
    if (bytes != nullptr && n > 0)
        (void) worker.link.rx.append (bytes, n);
    return processBuffered (worker);
}
