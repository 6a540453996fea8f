#pragma once
// Assembles HCI Command Complete events (04 0E L params) one byte at a time.
// After the first packet indicator it no longer looks for 0x04: the byte after
// a complete event ends that event, and the next 0x0E starts another one.

#include <cstdint>

class HciAssembler
{
public:
    enum class HciState : uint8_t { WaitPacket, WaitEventCode, WaitLength, Body };

    /** Longest parameter block accepted (L < 50). */
    static constexpr int maxParams = 49;

    /** Takes one byte, storing parameters into reply (at least maxParams bytes,
        zeroed when an event begins so nothing of an earlier event is left in it).
        True when the byte completed an event of expectedLength parameters. */
    bool step (uint8_t b, uint8_t* reply) noexcept;

    void reset() noexcept;

    HciState hciState = HciState::WaitPacket;
    uint8_t expectedLength = 0;
    uint8_t hciCount = 0;
};
