#include "protocol/FrameAssembler.h"

#include "protocol/Frame.h"

#include <cstring>

bool FrameAssembler::step (uint8_t b) noexcept
{
    switch (frameState)
    {
        case FrameState::WaitStart:
            if (b == frameStartByte)
                frameState = FrameState::WaitLengthHigh;
            break;

        case FrameState::WaitLengthHigh:
            frameState = (b == 0x00) ? FrameState::WaitLengthLow : FrameState::WaitStart;
            break;

        case FrameState::WaitLengthLow:
            frameLength = b;
            sum = b;
            bytesLeft = b;
            bodyCount = 0;
            frameComplete = false;
            frameState = FrameState::Body;
            break;

        case FrameState::Body:
            sum = static_cast<uint8_t> (sum + b);
            --bytesLeft; // N = 0 wraps to 255 and ends in the abandonment below
            if (bodyCount >= maxBody)
            {
                frameState = FrameState::WaitStart;
                break;
            }
            body[bodyCount++] = b;
            if (bytesLeft == 0)
                frameState = FrameState::Checksum;
            break;

        case FrameState::Checksum:
            frameState = FrameState::WaitStart;
            if (static_cast<uint8_t> (sum + b) == 0)
            {
                checksum = b;
                frameComplete = true;
                return true;
            }
            break;
    }
    return false;
}

void FrameAssembler::reset() noexcept
{
    frameState = FrameState::WaitStart;
    frameComplete = false;
}

int FrameAssembler::copyFrame (uint8_t* out) const noexcept
{
    out[0] = frameStartByte;
    out[1] = 0x00;
    out[2] = frameLength;
    std::memcpy (out + 3, body, bodyCount);
    out[3 + bodyCount] = checksum;
    return bodyCount + 4;
}
