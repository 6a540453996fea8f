#include "protocol/HciDecoder.h"

#include "protocol/Commands.h"

#include <cstring>

namespace
{
constexpr int readHeader = 7; // packets, opcode (2), status, location (2), d

EventResult decodeName (HciConfig& config, const uint8_t* data, int d)
{
    if (d < 1 || data[0] >= maxNameLength)
        return EventResult::Rejected;
    auto& name = config.name;
    std::memset (name, 0, sizeof (name));
    const int available = d - 1 < data[0] ? d - 1 : data[0];
    for (int i = 0; i < available && data[1 + i] != 0; ++i)
        name[i] = data[1 + i];
    return EventResult::NameBlock;
}

EventResult decodePin (HciConfig& config, const uint8_t* data, int d)
{
    auto& pin = config.pin;
    std::memset (pin, 0, sizeof (pin));
    for (int i = 0; i < 4 && i < d && data[i] != 0; ++i)
        pin[i] = data[i];
    return EventResult::PinBlock;
}

EventResult decodePinSwitch (HciConfig& config, const uint8_t* data, int d)
{
    if (d < 1)
        return EventResult::Rejected;
    if (data[0] != pinSwitchOn)
        config.pin[0] = 0;
    return EventResult::PinFlagBlock;
}

EventResult decodeMemoryRead (HciConfig& config, const uint8_t* params, int length)
{
    if (length < readHeader || params[6] != length - readHeader)
        return EventResult::Rejected;

    const uint16_t location = static_cast<uint16_t> ((params[4] << 8) | params[5]);
    const uint8_t* data = params + readHeader;
    const int d = params[6];
    switch (location)
    {
        case locIdentity:   return EventResult::IdentityBlock;
        case locNameRecord: return decodeName (config, data, d);
        case locPin:        return decodePin (config, data, d);
        case locPinSwitch:  return decodePinSwitch (config, data, d);
        default:            return EventResult::Rejected;
    }
}
}

EventResult decodeHciEvent (DeviceState& device, const uint8_t* params, int length)
{
    if (params == nullptr || length < 3)
        return EventResult::Rejected;

    const uint16_t opcode = static_cast<uint16_t> (params[1] | (params[2] << 8));
    if (opcode == hciReadMemory)
        return decodeMemoryRead (device.hciConfig, params, length);
    if (opcode == hciWriteMemory)
        return (length >= 4 && params[0] == 1 && params[3] == 0) ? EventResult::WriteAck
                                                                  : EventResult::Rejected;
    return EventResult::Rejected;
}
