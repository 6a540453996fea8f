#include "protocol/Commands.h"

#include "protocol/Frame.h"

#include <cstring>

int nameLength (const uint8_t* name)
{
    int n = 0;
    while (n < maxNameLength && name[n] != 0)
        ++n;
    return n;
}

int buildNameCommand (uint8_t* out, const uint8_t* name)
{
    uint8_t params[3 + maxNameLength] = { 0x00, 0x00 };
    const int n = nameLength (name);
    params[2] = static_cast<uint8_t> (n);
    std::memcpy (params + 3, name, static_cast<size_t> (n));
    return encodeFrame (out, opWriteName, params, n + 3);
}

int buildPinCommand (uint8_t* out, const uint8_t* pin)
{
    uint8_t params[4] = {};
    if (pin[0] != 0 && pin[1] != 0 && pin[2] != 0 && pin[3] != 0)
        std::memcpy (params, pin, 4);
    return encodeFrame (out, opWritePin, params, 4);
}

int buildSettingsCommand (uint8_t* out, uint8_t stereo, uint8_t maxDevices, uint8_t gpoNormallyOpen,
                          uint8_t ledControl, uint8_t restoreControl)
{
    const uint8_t params[5] = { stereo, maxDevices, gpoNormallyOpen, ledControl, restoreControl };
    return encodeFrame (out, opWriteSettings, params, 5);
}

int encodeEventAck (uint8_t* out, uint8_t eventOpcode)
{
    return encodeFrame (out, opEventAck, &eventOpcode, 1);
}

namespace
{
int encodeMemoryWrite (uint8_t* out, uint16_t location, const uint8_t* data, int count)
{
    uint8_t params[3 + 255];
    params[0] = static_cast<uint8_t> (location >> 8);
    params[1] = static_cast<uint8_t> (location & 0xFF);
    params[2] = static_cast<uint8_t> (count);
    std::memcpy (params + 3, data, static_cast<size_t> (count));
    return encodeHciCommand (out, hciWriteMemory, params, count + 3);
}
}

int encodeHciPinSwitchWrite (uint8_t* out, bool pinOn)
{
    const uint8_t value = pinOn ? pinSwitchOn : pinSwitchOff;
    return encodeMemoryWrite (out, locPinSwitch, &value, 1);
}

int encodeHciPinWrite (uint8_t* out, const uint8_t* pin)
{
    return encodeMemoryWrite (out, locPin, pin, 4);
}

int encodeHciNameWrite (uint8_t* out, const uint8_t* name)
{
    uint8_t record[1 + maxNameLength];
    const int n = nameLength (name);
    record[0] = static_cast<uint8_t> (n);
    std::memcpy (record + 1, name, static_cast<size_t> (n));
    return encodeMemoryWrite (out, locNameRecord, record, n + 1);
}
