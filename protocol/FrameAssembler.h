#pragma once
// Assembles CommandFrames from the module one byte at a time. Frames longer
// than maxBody body bytes, frames whose high length byte is not 0 and frames
// with a wrong checksum are dropped silently.

#include <cstdint>

class FrameAssembler
{
public:
    enum class FrameState : uint8_t { WaitStart, WaitLengthHigh, WaitLengthLow, Body, Checksum };

    static constexpr int maxBody = 100;

    /** Takes one byte; true when it completed a valid frame (then frameComplete is set). */
    bool step (uint8_t b) noexcept;

    /** Back to WaitStart with no frame pending. */
    void reset() noexcept;

    /** Writes the completed frame, start byte through checksum, into out
        (bodyCount + 4 bytes) and returns its length. */
    int copyFrame (uint8_t* out) const noexcept;

    FrameState frameState = FrameState::WaitStart;
    uint8_t frameLength = 0;
    uint8_t bytesLeft = 0;
    uint8_t sum = 0;
    uint8_t bodyCount = 0;
    uint8_t checksum = 0;
    uint8_t body[maxBody] = {};
    bool frameComplete = false;
};
