#include "protocol/Frame.h"

#include <cstring>

uint8_t frameChecksum (const uint8_t* bytes, int count)
{
    uint8_t sum = 0;
    for (int i = 0; i < count; ++i)
        sum = static_cast<uint8_t> (sum + bytes[i]);
    return static_cast<uint8_t> (-sum);
}

int encodeFrame (uint8_t* out, uint8_t opcode, const uint8_t* params, int count)
{
    if (count < 0 || params == nullptr)
        count = 0;
    if (count > maxFrameParams)
        count = maxFrameParams;

    out[0] = frameStartByte;
    out[1] = 0x00;
    out[2] = static_cast<uint8_t> (count + 1);
    out[3] = opcode;
    if (count > 0)
        std::memcpy (out + 4, params, static_cast<size_t> (count));
    out[4 + count] = frameChecksum (out + 1, count + 3);
    return count + 5;
}

int encodeHciCommand (uint8_t* out, uint16_t opcode, const uint8_t* params, int paramCount)
{
    if (paramCount < 0 || params == nullptr)
        paramCount = 0;
    if (paramCount > 255)
        paramCount = 255;

    out[0] = hciCommandPacket;
    out[1] = static_cast<uint8_t> (opcode & 0xFF);
    out[2] = static_cast<uint8_t> (opcode >> 8);
    out[3] = static_cast<uint8_t> (paramCount);
    if (paramCount > 0)
        std::memcpy (out + 4, params, static_cast<size_t> (paramCount));
    return paramCount + 4;
}
