#pragma once
// The faults a test can switch on in the receiver, and the one decision each
// takes: whether to answer, how to answer and what a frame goes out as.

#include <cstdint>
#include <vector>

namespace korvasim
{

struct SimFaults
{
    struct Refusal
    {
        uint8_t opcode;
        uint8_t status;
        int subCode;                 // 0x49 only; -1 for every sub-code
    };

    /** Written before each frame when garbage is on: nothing a frame can start with. */
    static const std::vector<uint8_t> garbageBytes;

    bool silent = false;
    bool corruptChecksum = false;
    bool splitWrites = false;
    bool garbage = false;
    int replyDelayMs = 0;
    bool wireSpeed = false;
    bool ignoreBaud = false;
    std::vector<Refusal> refusals;

    /** The refusal of op (and sub-code, for 0x49) if one was asked for; the first wins. */
    const Refusal* refusalFor (uint8_t op, int subCode) const;

    /** Spoils the frame's checksum when asked (CommandFrames only: HCI events have none). */
    void spoil (std::vector<uint8_t>& frame, bool hci) const;

    /** The pieces a frame is written in: whole, or cut when writes are split. */
    std::vector<std::vector<uint8_t>> pieces (const std::vector<uint8_t>& frame) const;
};

} // namespace korvasim
