#pragma once
// What handling one frame from the tool produced: the frames to send back, and
// what the tool did wrong. The receiver's parts fill it; the receiver sends and logs.

#include <cstdint>
#include <string>
#include <vector>

namespace korvasim
{

class SimReplies
{
public:
    struct Reply
    {
        std::vector<uint8_t> frame;
        int eventOpcode = -1;        // event that the tool must acknowledge
        bool firmwareAck = false;    // the acknowledgement of a 0x49 command
        int extraDelayMs = 0;        // on top of the reply delay (a restart, say)
    };

    /** Acknowledgement 0x00 of command op; the update family's holds back its next command. */
    void commandAck (uint8_t op, uint8_t status);

    /** Event op, which the tool must acknowledge. */
    void event (uint8_t op, const std::vector<uint8_t>& params, int extraDelayMs = 0);

    /** Bytes sent as they are (HCI events). */
    void packet (std::vector<uint8_t> bytes);

    void violation (std::string text);

    const std::vector<Reply>& replies() const { return sends; }
    const std::vector<std::string>& violations() const { return faults; }

private:
    std::vector<Reply> sends;
    std::vector<std::string> faults;
};

} // namespace korvasim
