#include "protocol/EventDecoder.h"

#include "protocol/Commands.h"
#include "protocol/DebugOutput.h"

#include <cstdio>
#include <cstring>

namespace
{
struct AckCode
{
    uint8_t opcode;
    EventResult result;
};

constexpr AckCode acceptedCommands[] = {
    { opRestoreDefaults, EventResult::AckCmd02 },
    { opWritePin,        EventResult::AckCmd06 },
    { opWriteName,       EventResult::AckCmd35 },
    { opFirmware,        EventResult::AckCmd49 },
    { opApplySettings,   EventResult::AckCmdD1 },
    { opWriteSettings,   EventResult::AckCmdD4 },
    { opD6,              EventResult::AckCmdD6 },
};

constexpr int pairedRecordSize = 7;

EventResult decodeCommandAck (const uint8_t* p, int params)
{
    if (params < 2)
        return EventResult::None;
    if (p[1] != 0)
    {
        debugOutput (refusedCommandText (p[0], p[1]));
        return EventResult::Rejected;
    }
    for (const auto& a : acceptedCommands)
        if (a.opcode == p[0])
            return a.result;
    return EventResult::None;
}

EventResult decodePairedRecords (const uint8_t* p, int params)
{
    debugOutput ("APP_UART_EVT_1F_READ_PAIRED_DEVICE_RECORD_REPLY\n");
    const int whole = (params - 1) / pairedRecordSize;
    const int records = p[0] < whole ? p[0] : whole;
    for (int r = 0; r < records; ++r)
    {
        const uint8_t* record = p + 1 + r * pairedRecordSize;
        char text[8];
        std::snprintf (text, sizeof (text), "%02d ", record[0]);
        debugOutput (text);
        for (int i = 1; i < pairedRecordSize; ++i)
        {
            std::snprintf (text, sizeof (text), "%02x", record[i]);
            debugOutput (text);
        }
        debugOutput ("\n");
    }
    return EventResult::PairedRecords;
}

EventResult decodeName (DeviceState& device, const uint8_t* p, int params)
{
    int n = p[0] < maxNameLength ? p[0] : maxNameLength;
    if (n > params - 1)
        n = params - 1;
    auto& name = device.config.name;
    std::memcpy (name, p + 1, static_cast<size_t> (n));
    name[n] = 0;
    return EventResult::NameReply;
}

EventResult decodeIdentity (DeviceState& state, const uint8_t* p, int params)
{
    if (p[0] == 0 && params >= 2)
    {
        state.reportedTypeCode = p[1];
        return EventResult::TypeReply;
    }
    if (p[0] == 1 && params >= 3)
    {
        state.reportedVersionMajor = p[1];
        state.reportedVersionMinor = p[2];
        return EventResult::VersionReply;
    }
    return EventResult::None;
}

EventResult decodeSettings (DeviceState& device, const uint8_t* p, int params)
{
    if (params < 5)
        return EventResult::None;
    auto& config = device.config;
    config.stereo = p[0] != 0 ? 1 : 0;
    config.gpoNormallyOpen = p[1] != 0 ? 1 : 0;
    config.ledControl = p[2] != 0 ? 1 : 0;
    config.restoreControl = p[3] != 0 ? 1 : 0;
    config.maxDevices = p[4] == 1 ? 1 : 8;
    return EventResult::SettingsReply;
}

EventResult decodePin (DeviceState& device, const uint8_t* p, int params)
{
    auto& pin = device.config.pin;
    if (p[0] == 0)
    {
        std::memset (pin, 0, 4);
        return EventResult::PinReply;
    }
    if (params < 5)
        return EventResult::None;
    std::memcpy (pin, p + 1, 4);
    pin[4] = 0;
    return EventResult::PinReply;
}
}

std::string refusedCommandText (uint8_t opcode, uint8_t status)
{
    char text[96];
    std::snprintf (text, sizeof (text),
                   "\nnnot possible to run operation on this moment cmd:%02x status:%02x\n",
                   opcode, status);
    return text;
}

EventResult decodeEvent (DeviceState& device, const uint8_t* body, int count)
{
    if (body == nullptr || count < 2)
        return EventResult::None;

    const uint8_t* p = body + 1;
    const int params = count - 1;

    switch (body[0])
    {
        case evtCommandAck:    return decodeCommandAck (p, params);
        case evtStatus:        return p[0] == 0 ? EventResult::StatusZero
                                    : p[0] == 2 ? EventResult::StatusTwo : EventResult::None;
        case evt0E:            return p[0] == 0 ? EventResult::Event0EZero : EventResult::None;
        case evtPairedRecords: return decodePairedRecords (p, params);
        case evtName:          return decodeName (device, p, params);
        case evtIdentity:      return decodeIdentity (device, p, params);
        case evtSettings:      return decodeSettings (device, p, params);
        case evtPin:           return decodePin (device, p, params);
        default:               return EventResult::None;
    }
}
