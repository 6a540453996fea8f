#include "tools/simulator/SimFirmwareUpdate.h"

#include "tools/simulator/SimFrameReader.h"
#include "tools/simulator/SimFrames.h"

#include <algorithm>

namespace korvasim
{

namespace
{
using Bytes = std::vector<uint8_t>;
}

const char* SimFirmwareUpdate::phaseName (Phase p)
{
    switch (p)
    {
        case Phase::Idle:        return "idle";
        case Phase::Begun:       return "begun";
        case Phase::Mcu:         return "MCU section";
        case Phase::McuEnded:    return "after MCU section";
        case Phase::DspHeader:   return "DSP header";
        case Phase::Dsp:         return "DSP section";
        case Phase::DspEnded:    return "after DSP section";
        case Phase::Config:      return "config section";
        case Phase::ConfigEnded: return "after config section";
        case Phase::Ended:       return "after UpdateEnd";
        case Phase::Closed:      return "closed";
    }
    return "?";
}

std::vector<uint8_t>* SimFirmwareUpdate::sectionBuffer (int kind)
{
    switch (kind)
    {
        case 0: return &fw.mcu;
        case 1: return &fw.dsp;
        case 2: return &fw.config;
        default: return nullptr;
    }
}

uint32_t SimFirmwareUpdate::announcedSize (int kind) const
{
    return kind == 0 ? fw.mcuSize : kind == 1 ? fw.dspSize : fw.configSize;
}

void SimFirmwareUpdate::order (uint8_t sub, std::initializer_list<Phase> allowed, Phase next, SimReplies& out)
{
    if (std::find (allowed.begin(), allowed.end(), phase) == allowed.end())
        out.violation ("firmware sub-code " + simHex2 (sub) + " out of order (" + phaseName (phase) + ")");
    phase = next;
}

std::optional<uint8_t> SimFirmwareUpdate::command (const Bytes& p, SimReplies& out)
{
    if (p.empty())
    {
        out.violation ("firmware command without sub-code");
        return std::nullopt;
    }
    const uint8_t sub = p[0];
    if (awaitingAck)
        out.violation ("firmware sub-code " + simHex2 (sub) + " sent before the previous acknowledgement");

    FirmwareCommand record;
    record.subCode = sub;

    switch (sub)
    {
        case 0x00:
            if (p.size() != 13)
                out.violation ("UpdateBegin with " + std::to_string (p.size()) + " parameter bytes");
            fw = FirmwareImageReceived {};
            fw.begun = true;
            if (p.size() >= 13)
            {
                fw.mcuSize = simBe32 (&p[1]);
                fw.dspSize = simBe32 (&p[5]);
                fw.configSize = simBe32 (&p[9]);
            }
            phase = Phase::Begun;
            break;

        case 0x01:
            order (sub, { Phase::Begun }, Phase::Mcu, out);
            if (p.size() == 3)
                fw.mcuTag = simBe16 (&p[1]);
            else
                out.violation ("McuStart with " + std::to_string (p.size()) + " parameter bytes");
            break;

        case 0x02:
        {
            order (sub, { Phase::McuEnded, Phase::DspHeader }, Phase::DspHeader, out);
            const int n = p.size() >= 7 ? simBe16 (&p[5]) : -1;
            if (n < 0 || p.size() != size_t (n) + 7 || n > SimFrameReader::maxChunk)
            {
                out.violation ("DspHeader frame with inconsistent length");
                break;
            }
            fw.dspHeaderTag = simBe16 (&p[1]);
            fw.dspHeaderSize = simBe16 (&p[3]);
            fw.dspHeader.insert (fw.dspHeader.end(), p.begin() + 7, p.end());
            record.dataBytes = n;
            break;
        }

        case 0x04:
        {
            const int n = p.size() >= 8 ? simBe16 (&p[6]) : -1;
            const int kind = p.size() >= 2 ? p[1] : -1;
            record.sectionKind = kind;
            if (kind == 0)
                order (sub, { Phase::Mcu }, Phase::Mcu, out);
            else if (kind == 1)
                order (sub, { Phase::DspHeader, Phase::Dsp }, Phase::Dsp, out);
            else if (kind == 2)
                order (sub, { Phase::Config }, Phase::Config, out);
            if (n < 0 || p.size() != size_t (n) + 8 || n > SimFrameReader::maxChunk || sectionBuffer (kind) == nullptr)
            {
                out.violation ("SectionData frame with inconsistent length or kind");
                break;
            }
            record.dataBytes = n;
            const uint32_t offset = simBe32 (&p[2]);
            auto* section = sectionBuffer (kind);
            if (offset != section->size())
                out.violation ("section " + std::to_string (kind) + " data at offset " + std::to_string (offset)
                               + ", expected " + std::to_string (section->size()));
            if (uint64_t (offset) + uint64_t (n) > announcedSize (kind))
                out.violation ("section " + std::to_string (kind) + " data beyond its announced size");
            if (uint64_t (offset) + uint64_t (n) <= 64u * 1024 * 1024)
            {
                if (section->size() < offset + size_t (n))
                    section->resize (offset + size_t (n));
                std::copy (p.begin() + 8, p.end(), section->begin() + offset);
            }
            break;
        }

        case 0x03:
            order (sub, { Phase::DspEnded, Phase::McuEnded }, Phase::Config, out);
            if (p.size() == 3)
                fw.configTag = simBe16 (&p[1]);
            else
                out.violation ("ConfigStart with " + std::to_string (p.size()) + " parameter bytes");
            break;

        case 0x05:
        {
            const int kind = p.size() == 2 ? p[1] : -1;
            record.sectionKind = kind;
            if (kind == 0)
                order (sub, { Phase::Mcu }, Phase::McuEnded, out);
            else if (kind == 1)
                order (sub, { Phase::Dsp, Phase::DspHeader }, Phase::DspEnded, out);
            else if (kind == 2)
                order (sub, { Phase::Config }, Phase::ConfigEnded, out);
            else
                out.violation ("SectionEnd without a valid section kind");
            if (const auto* section = sectionBuffer (kind))
                if (section->size() != announcedSize (kind))
                    out.violation ("section " + std::to_string (kind) + " ended with " + std::to_string (section->size())
                                   + " of " + std::to_string (announcedSize (kind)) + " bytes");
            break;
        }

        case 0x06:
            order (sub, { Phase::ConfigEnded, Phase::DspEnded, Phase::McuEnded }, Phase::Ended, out);
            fw.ended = true;
            break;

        case 0x07:
            order (sub, { Phase::Ended }, Phase::Closed, out);
            fw.closed = true;
            break;

        default:
            out.violation ("unknown firmware sub-code " + simHex2 (sub));
            break;
    }
    log.push_back (record);
    return sub;
}

void SimFirmwareUpdate::clear()
{
    fw = FirmwareImageReceived {};
    phase = Phase::Idle;
    awaitingAck = false;
    log.clear();
}

} // namespace korvasim
