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

std::string simTraceLine (const char* label, const std::vector<uint8_t>& bytes)
{
    return formatTrace (label, bytes.data(), static_cast<int> (bytes.size()));
}

} // namespace korvasim
