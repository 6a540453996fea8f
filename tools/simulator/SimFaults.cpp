#include "tools/simulator/SimFaults.h"

#include "tools/simulator/SimFrames.h"

namespace korvasim
{

const std::vector<uint8_t> SimFaults::garbageBytes { 0x55, 0x13, 0xFF, 0x00, 0x7E };

const SimFaults::Refusal* SimFaults::refusalFor (uint8_t op, int subCode) const
{
    for (const auto& r : refusals)
        if (r.opcode == op && (r.subCode < 0 || r.subCode == subCode))
            return &r;
    return nullptr;
}

void SimFaults::frameHandled()
{
    if (silentAfter.count())
        silent = true;
    if (stallAfter.count())
        stallReads = true;
}

void SimFaults::spoil (std::vector<uint8_t>& frame, bool hci) const
{
    if (corruptChecksum && ! hci && ! frame.empty())
        frame.back() ^= 0x5A;
}

std::vector<std::vector<uint8_t>> SimFaults::pieces (const std::vector<uint8_t>& frame) const
{
    if (splitWrites)
        return splitSimFrame (frame);
    return { frame };
}

} // namespace korvasim
