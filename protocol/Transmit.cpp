#include "protocol/Transmit.h"

#include "protocol/Frame.h"
#include "protocol/Trace.h"
#include "serial/PortTable.h"

void writePacket (int portIndex, const uint8_t* bytes, int count)
{
    if (bytes == nullptr || count <= 0)
        return;
    (void) writePort (portIndex, bytes, count);   // refuses while port waits are interrupted
}

void sendPacket (const JobContext& job, const char* label, const uint8_t* bytes, int count)
{
    if (job.shouldExit() || portWaitsInterrupted())
        return;   // nothing is written, so nothing is traced as sent
    trace (job.link, label, bytes, count);
    writePacket (job.portIndex, bytes, count);
}

void sendCommand (const JobContext& job, const uint8_t* payload, int n)
{
    if (payload == nullptr || n < 1)
        return;
    if (n > maxFrameParams + 1)
        n = maxFrameParams + 1;

    const int length = encodeFrame (job.link.tx, payload[0], payload + 1, n - 1);
    sendPacket (job, traceLabelCommand, job.link.tx, length);
}
