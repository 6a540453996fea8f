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
uint8_t rxStorage[rxRingSize];
uint8_t ackStorage[ackQueueSize];
ByteRing rx (rxStorage, rxRingSize);
ByteRing acks (ackStorage, ackQueueSize);
FrameAssembler assembler;

EventResult processBuffered (JobContext& worker)
{
    while (! rx.isEmpty() && ! assembler.frameComplete)
        assembler.step (rx.take());

    if (! assembler.frameComplete)
        return EventResult::None;

    assembler.frameComplete = false;

    // An opcode without parameters carries nothing to decode or acknowledge.
    if (assembler.frameLength == 1)
        return EventResult::None;

    uint8_t frame[FrameAssembler::maxBody + 4];
    const int frameBytes = assembler.copyFrame (frame);
    trace (traceLabelEvent, frame, frameBytes);

    const uint8_t opcode = assembler.body[0];
    if (opcode != evtCommandAck)
        (void) acks.append (&opcode, 1);

    const EventResult result = decodeEvent (assembler.body, assembler.bodyCount);

    while (! acks.isEmpty())
    {
        const int length = encodeEventAck (txBuffer, acks.take());
        sendPacket (worker, traceLabelAck, txBuffer, length);
    }
    return result;
}

}

ByteRing& rxRing() { return rx; }
ByteRing& ackQueue() { return acks; }
FrameAssembler& frameAssembler() { return assembler; }

void resetEventReceiver()
{
    assembler.reset();
    rx.clear();
    acks.clear();
}

EventResult pollEvents (JobContext& worker, bool reset)
{
    if (reset)
    {
        resetEventReceiver();
        worker.waitTicks = replyPassLimit;
        return EventResult::None;
    }
    readPortInto (rx, worker.portIndex);
    return processBuffered (worker);
}

EventResult feedEvents (JobContext& worker, const uint8_t* bytes, int n)
{
    if (bytes != nullptr && n > 0)
        (void) rx.append (bytes, n);
    return processBuffered (worker);
}
