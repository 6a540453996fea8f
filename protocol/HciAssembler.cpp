#include "protocol/HciAssembler.h"

#include "protocol/Commands.h"
#include "protocol/Frame.h"

#include <cstring>

bool HciAssembler::step (uint8_t b, uint8_t* reply) noexcept
{
    switch (hciState)
    {
        case HciState::WaitPacket:
            if (b == hciEventPacket)
                hciState = HciState::WaitEventCode;
            break;

        case HciState::WaitEventCode:
            if (b == hciCommandComplete)
                hciState = HciState::WaitLength;
            break;

        case HciState::WaitLength:
            if (b > maxParams)
            {
                hciState = HciState::WaitEventCode;
                break;
            }
            expectedLength = b;
            hciCount = 0;
            std::memset (reply, 0, maxParams);
            hciState = HciState::Body;
            break;

        case HciState::Body:
            if (hciCount < expectedLength)
                reply[hciCount++] = b;
            else
                hciState = HciState::WaitEventCode; // this byte ends the previous event
            break;
    }
    // Holds exactly once per event: the next byte always leaves Body.
    return hciState == HciState::Body && hciCount == expectedLength;
}

void HciAssembler::reset() noexcept
{
    expectedLength = 0;
    hciState = HciState::WaitPacket;
}
