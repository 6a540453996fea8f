#include "tools/simulator/SimFrames.h"

#include "protocol/Trace.h"

#include <cstdio>

namespace korvasim
{

uint8_t simChecksum (const uint8_t* bytes, size_t count)
{
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint8_t> ((0x100 - (sum & 0xFF)) & 0xFF);
}

std::vector<uint8_t> encodeSimFrame (uint8_t opcode, const std::vector<uint8_t>& params)
{
    const size_t n = params.size() + 1;
    std::vector<uint8_t> frame;
    frame.reserve (n + 4);
    frame.push_back (0xAA);
    frame.push_back (static_cast<uint8_t> (n >> 8));
    frame.push_back (static_cast<uint8_t> (n & 0xFF));
    frame.push_back (opcode);
    frame.insert (frame.end(), params.begin(), params.end());
    frame.push_back (simChecksum (frame.data() + 1, frame.size() - 1));
    return frame;
}

std::vector<uint8_t> encodeHciComplete (uint16_t opcode, uint8_t status, const std::vector<uint8_t>& ret)
{
    std::vector<uint8_t> event;
    event.reserve (7 + ret.size());
    for (const uint8_t b : { uint8_t (0x04), uint8_t (0x0E), static_cast<uint8_t> (4 + ret.size()), uint8_t (0x01),
                             static_cast<uint8_t> (opcode & 0xFF), static_cast<uint8_t> (opcode >> 8), status })
        event.push_back (b);
    event.insert (event.end(), ret.begin(), ret.end());
    return event;
}

std::vector<std::vector<uint8_t>> splitSimFrame (const std::vector<uint8_t>& frame)
{
    if (frame.size() <= 3)
        return { frame };
    const auto mid = static_cast<long> (2 + (frame.size() - 2) / 2);
    return { { frame.begin(), frame.begin() + 2 },
             { frame.begin() + 2, frame.begin() + mid },
             { frame.begin() + mid, frame.end() } };
}

uint32_t simBe32 (const uint8_t* p)
{
    return (uint32_t (p[0]) << 24) | (uint32_t (p[1]) << 16) | (uint32_t (p[2]) << 8) | p[3];
}

uint16_t simBe16 (const uint8_t* p)
{
    return static_cast<uint16_t> ((p[0] << 8) | p[1]);
}

std::string simHex (const std::vector<uint8_t>& bytes)
{
    std::string text;
    char part[4];
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        std::snprintf (part, sizeof (part), i == 0 ? "%02X" : " %02X", bytes[i]);
        text += part;
    }
    return text;
}

std::string simHex2 (unsigned value)
{
    char text[8];
    std::snprintf (text, sizeof (text), "%02x", value & 0xFFu);
    return text;
}

bool isSimDataFrame (const std::vector<uint8_t>& f)
{
    const int n = (f[1] << 8) | f[2];
    return f[3] == 0x49 && n > 2 && (f[4] == 0x02 || f[4] == 0x04);
}

const char* simTraceLabel (const std::vector<uint8_t>& f)
{
    return f[3] == 0x14 ? "< Ack: " : isSimDataFrame (f) ? "< DSPHDR: " : "< Cmd: ";
}

std::string simTraceLine (const char* label, const std::vector<uint8_t>& bytes)
{
    return formatTrace (label, bytes.data(), static_cast<int> (bytes.size()));
}

} // namespace korvasim
