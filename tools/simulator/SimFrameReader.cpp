#include "tools/simulator/SimFrameReader.h"

namespace korvasim
{

SimFrameReader::Step SimFrameReader::step (uint8_t b)
{
    switch (state)
    {
        case State::Start:
            if (! hci && b == 0xAA)
            {
                bytes.assign (1, b);
                state = State::LenHigh;
                return Step::Pending;
            }
            if (hci && b == 0x01)
            {
                bytes.assign (1, b);
                state = State::HciOpLow;
                return Step::Pending;
            }
            return Step::Noise;

        case State::LenHigh:
            bytes.push_back (b);
            state = State::LenLow;
            return Step::Pending;

        case State::LenLow:
            bytes.push_back (b);
            need = (bytes[1] << 8) | b;
            if (need == 0 || need > maxChunk + 9)
            {
                state = State::Start;
                return Step::BadLength;
            }
            state = State::Body;
            return Step::Pending;

        case State::Body:
            bytes.push_back (b);
            if (--need == 0)
                state = State::Checksum;
            return Step::Pending;

        case State::Checksum:
            bytes.push_back (b);
            state = State::Start;
            return Step::Frame;

        case State::HciOpLow:
        case State::HciOpHigh:
            bytes.push_back (b);
            state = state == State::HciOpLow ? State::HciOpHigh : State::HciLen;
            return Step::Pending;

        case State::HciLen:
            bytes.push_back (b);
            need = b;
            state = State::HciParams;
            if (need == 0)
            {
                state = State::Start;
                return Step::HciPacket;
            }
            return Step::Pending;

        case State::HciParams:
            bytes.push_back (b);
            if (--need == 0)
            {
                state = State::Start;
                return Step::HciPacket;
            }
            return Step::Pending;
    }
    return Step::Noise;
}

size_t SimFrameReader::bytesUntilAction() const
{
    switch (state)
    {
        case State::Start:     return hci ? 4 : 3;
        case State::LenHigh:   return 2;
        case State::LenLow:    return 1;
        case State::Body:      return static_cast<size_t> (need) + 1;
        case State::Checksum:  return 1;
        case State::HciOpLow:  return 3;
        case State::HciOpHigh: return 2;
        case State::HciLen:    return 1;
        case State::HciParams: return static_cast<size_t> (need);
    }
    return 1;
}

} // namespace korvasim
