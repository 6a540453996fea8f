#include "jobs/SettingsForm.h"

#include "jobs/TextRules.h"

namespace
{
    constexpr int nameBytes = 32;
    constexpr int pinBytes = 4;
}

bool isKnownDeviceType (uint8_t typeCode) noexcept
{
    return typeCode == 0xF0 || typeCode == 0xF1 || typeCode == 0xF2;
}

bool typeHasFullSettings (uint8_t typeCode) noexcept
{
    return typeCode == 0xF0 || typeCode == 0xF2;
}

const char* modelNameFor (uint8_t typeCode) noexcept
{
    switch (typeCode)
    {
        case 0xF0: return "Rulko";
        case 0xF1: return "zVARNELO7QX";
        case 0xF2: return "DORU-415QX";
        default:   return "";
    }
}

bool storeSettings (uint8_t typeCode, const SettingsValues& values, DeviceState& state)
{
    if (! isKnownDeviceType (typeCode))
        return false;

    if (! TextRules::isValidName (values.name) || ! TextRules::isValidPin (values.pin))
        return false;

    if (typeCode == 0xF1)
    {
        TextRules::encodeText (values.name, state.hciConfig.name, nameBytes);
        TextRules::encodeText (values.pin, state.hciConfig.pin, pinBytes);
        return true;
    }

    auto& config = state.config;
    TextRules::encodeText (values.name, config.name, nameBytes);
    TextRules::encodeText (values.pin, config.pin, pinBytes);
    config.gpoNormallyOpen = values.gpoNormallyOpen ? 1 : 0;
    config.stereo = values.stereo ? 1 : 0;
    config.maxDevices = values.singleDevice ? 1 : 8;
    config.ledControl = values.ledControl ? 1 : 0;
    config.restoreControl = values.restoreControl ? 1 : 0;
    return true;
}

SettingsValues loadSettings (uint8_t typeCode, const DeviceState& state)
{
    SettingsValues values;

    if (typeCode == 0xF1)
    {
        values.name = TextRules::decodeText (state.hciConfig.name, nameBytes);
        values.pin = TextRules::decodeText (state.hciConfig.pin, pinBytes);
        return values;
    }

    const auto& config = state.config;
    values.name = TextRules::decodeText (config.name, nameBytes);
    values.pin = TextRules::decodeText (config.pin, pinBytes);
    values.gpoNormallyOpen = config.gpoNormallyOpen != 0;
    values.stereo = config.stereo != 0;
    values.singleDevice = config.maxDevices == 1;
    values.ledControl = config.ledControl != 0;
    values.restoreControl = config.restoreControl != 0;
    return values;
}
