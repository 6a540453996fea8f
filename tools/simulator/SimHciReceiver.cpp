#include "tools/simulator/SimHciReceiver.h"

#include "tools/simulator/SimFrames.h"

#include <algorithm>
#include <cstring>

namespace korvasim
{

namespace
{
using Bytes = std::vector<uint8_t>;

constexpr uint16_t memIdentity = 0x07BA;
constexpr uint16_t memName = 0x0500;
constexpr uint16_t memPin = 0x0047;
constexpr uint16_t memPinSwitch = 0x00B5;
constexpr uint8_t switchOn = 0x82;
constexpr uint8_t switchOff = 0x92;
constexpr int maxReadCount = 42;       // what one Command Complete event can carry back
constexpr uint8_t statusInvalid = 0x12;

bool pinIsEmpty (const std::array<uint8_t, 4>& pin)
{
    return pin[0] == 0 && pin[1] == 0 && pin[2] == 0 && pin[3] == 0;
}
} // namespace

SimHciReceiver::SimHciReceiver (const StoredSettings& factorySettings) : factory (factorySettings)
{
    reset();
}

void SimHciReceiver::reset()
{
    std::memset (memory, 0, sizeof (memory));
    std::memcpy (memory + memIdentity, "MCHP", 4);
    writeSettings (factory);
}

void SimHciReceiver::writeSettings (const StoredSettings& s)
{
    const size_t n = std::min<size_t> (s.name.size(), 31);
    memory[memName] = static_cast<uint8_t> (n);
    std::memset (memory + memName + 1, 0, 32);
    std::memcpy (memory + memName + 1, s.name.data(), n);
    std::memcpy (memory + memPin, s.pin.data(), 4);
    memory[memPinSwitch] = pinIsEmpty (s.pin) ? switchOff : switchOn;
}

StoredSettings SimHciReceiver::settings() const
{
    StoredSettings s = factory;
    const int n = std::min<int> (memory[memName], 32);
    s.name.assign (reinterpret_cast<const char*> (memory + memName + 1), static_cast<size_t> (n));
    if (memory[memPinSwitch] == switchOn)
        std::memcpy (s.pin.data(), memory + memPin, 4);
    else
        s.pin = { { 0, 0, 0, 0 } };
    return s;
}

Bytes SimHciReceiver::read (uint16_t location, int count) const
{
    Bytes out;
    for (int i = 0; i < count && location + i < memorySize; ++i)
        out.push_back (memory[location + i]);
    return out;
}

void SimHciReceiver::write (uint16_t location, const Bytes& bytes)
{
    for (size_t i = 0; i < bytes.size() && location + i < size_t (memorySize); ++i)
        memory[location + i] = bytes[i];
}

void SimHciReceiver::command (uint16_t opcode, const Bytes& p, SimReplies& out)
{
    auto complete = [&] (uint8_t status, const Bytes& ret) { out.packet (encodeHciComplete (opcode, status, ret)); };

    if (opcode == 0xFC29)
    {
        if (p.size() != 3)
        {
            out.violation ("HCI memory read with " + std::to_string (p.size()) + " parameters");
            complete (statusInvalid, {});
            return;
        }
        const int location = simBe16 (&p[0]);
        const int count = p[2];
        if (location + count > memorySize || count > maxReadCount)
        {
            complete (statusInvalid, {});
            return;
        }
        Bytes ret (3 + static_cast<size_t> (count));
        ret[0] = p[0];
        ret[1] = p[1];
        ret[2] = static_cast<uint8_t> (count);
        std::copy_n (memory + location, count, ret.begin() + 3);
        complete (0x00, ret);
    }
    else if (opcode == 0xFC27)
    {
        if (p.size() < 3 || p.size() != size_t (p[2]) + 3)
        {
            out.violation ("HCI memory write with inconsistent length " + simHex (p));
            complete (statusInvalid, {});
            return;
        }
        const int location = simBe16 (&p[0]);
        if (location + p[2] > memorySize)
        {
            complete (statusInvalid, {});
            return;
        }
        std::copy (p.begin() + 3, p.end(), memory + location);
        complete (0x00, {});
    }
    else
    {
        out.violation ("unknown HCI command " + simHex2 (opcode >> 8) + simHex2 (opcode & 0xFF));
        complete (0x01, {});
    }
}

} // namespace korvasim
