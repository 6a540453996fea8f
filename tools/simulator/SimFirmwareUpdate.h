#pragma once
// The receiving end of the firmware update family (0x49): reassembles the image
// by section and offset, and checks that the tool keeps the section order and
// waits for each acknowledgement before its next command.

#include "tools/simulator/SimReplies.h"
#include "tools/simulator/SimulatedReceiver.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace korvasim
{

class SimFirmwareUpdate
{
public:
    /** Takes one 0x49 command's parameters (sub-code first). Returns the sub-code,
        or nothing when there is none to answer. */
    std::optional<uint8_t> command (const std::vector<uint8_t>& params, SimReplies& out);

    /** An acknowledgement was queued: the tool must wait for it before its next command. */
    void ackQueued() { awaitingAck = true; }

    /** The acknowledgement has reached the tool. */
    void ackSent() { awaitingAck = false; }

    const FirmwareImageReceived& image() const { return fw; }
    const std::vector<FirmwareCommand>& commands() const { return log; }

    /** Forgets the image, the commands and where in the order the tool was. */
    void clear();

private:
    /** Section order the update family must follow. */
    enum class Phase { Idle, Begun, Mcu, McuEnded, DspHeader, Dsp, DspEnded, Config, ConfigEnded, Ended, Closed };

    static const char* phaseName (Phase p);

    /** Reports sub when the tool is in none of the allowed phases; moves on to next either way. */
    void order (uint8_t sub, std::initializer_list<Phase> allowed, Phase next, SimReplies& out);

    std::vector<uint8_t>* sectionBuffer (int kind);
    uint32_t announcedSize (int kind) const;

    FirmwareImageReceived fw;
    Phase phase = Phase::Idle;
    bool awaitingAck = false;
    std::vector<FirmwareCommand> log;
};

} // namespace korvasim
