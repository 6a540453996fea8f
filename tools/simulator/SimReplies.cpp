#include "tools/simulator/SimReplies.h"

#include "tools/simulator/SimFrames.h"

namespace korvasim
{

void SimReplies::commandAck (uint8_t op, uint8_t status)
{
    sends.push_back ({ encodeSimFrame (0x00, { op, status }), -1, op == 0x49, 0 });
}

void SimReplies::event (uint8_t op, const std::vector<uint8_t>& params, int extraDelayMs)
{
    sends.push_back ({ encodeSimFrame (op, params), op == 0x00 ? -1 : op, false, extraDelayMs });
}

void SimReplies::packet (std::vector<uint8_t> bytes)
{
    sends.push_back ({ std::move (bytes), -1, false, 0 });
}

void SimReplies::violation (std::string text)
{
    faults.push_back (std::move (text));
}

} // namespace korvasim
