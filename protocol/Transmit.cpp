#include "protocol/Transmit.h"

#include "protocol/DeviceState.h"
#include "protocol/Frame.h"
#include "protocol/Trace.h"
#include "serial/PortTable.h"

void writePacket (int portIndex, const uint8_t* bytes, int count)
{
    if (bytes == nullptr || count <= 0)
        return;
    (void) writePort (portIndex, bytes, count);   // refuses while port waits are interrupted
}

void sendPacket (int portIndex, const char* label, const uint8_t* bytes, int count)
{
    if (portWaitsInterrupted())
        return;   // nothing is written, so nothing is traced as sent
    trace (label, bytes, count);
    writePacket (portIndex, bytes, count);
}

void sendPacket (const JobContext& job, const char* label, const uint8_t* bytes, int count)
{
    if (! job.shouldExit())
        sendPacket (job.portIndex, label, bytes, count);
}

void sendCommand (const uint8_t* payload, int n)
{
    if (payload == nullptr || n < 1)
        return;
    if (n > maxFrameParams + 1)
        n = maxFrameParams + 1;

    const int length = buildFrame (payload[0], payload + 1, n - 1);
    sendPacket (deviceState().currentPortIndex.load(), traceLabelCommand, txBuffer, length);
}
