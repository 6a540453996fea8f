#pragma once
// The faults a test can switch on in the receiver, and the one decision each
// takes: whether to read, whether to answer, how to answer and what a frame goes
// out as. Some switch on by themselves partway through, counted in frames from the tool.

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

    /** Counts frames down to the one a fault switches on with. */
    struct FrameCountdown
    {
        int left = 0;                // frames still to come; 0: not counting

        void start (int frames) { left = frames; }

        /** Counts one frame; true on the one that ends the count. */
        bool count() { return left > 0 && --left == 0; }
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
    bool stallReads = false;          // the pty is not drained: the tool's writes back up
    std::vector<Refusal> refusals;

    FrameCountdown silentAfter, stallAfter, vanishAfter;
    int vanishSubCode = -1;           // the 0x49 sub-code vanishOnFirmware counts
    FrameCountdown vanishOnFirmware;

    /** A frame from the tool arrived: true when the receiver vanishes on it, unanswered. */
    bool vanishesOnFrame() { return vanishAfter.count(); }

    /** A 0x49 command with sub-code sub arrived: true when the receiver vanishes on it, unanswered. */
    bool vanishesOnFirmware (uint8_t sub) { return sub == vanishSubCode && vanishOnFirmware.count(); }

    /** A frame was handled: silence and stalled reads switch on once their count is reached. */
    void frameHandled();

    /** The refusal of op (and sub-code, for 0x49) if one was asked for; the first wins. */
    const Refusal* refusalFor (uint8_t op, int subCode) const;

    /** Spoils the frame's checksum when asked (CommandFrames only: HCI events have none). */
    void spoil (std::vector<uint8_t>& frame, bool hci) const;

    /** The pieces a frame is written in: whole, or cut when writes are split. */
    std::vector<std::vector<uint8_t>> pieces (const std::vector<uint8_t>& frame) const;
};

} // namespace korvasim
