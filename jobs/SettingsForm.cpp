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

std::string settingsProblems (const SettingsValues& values, const SettingsValues* held)
{
    std::string problems;

    // An empty name is never one a receiver reported: it is judged like any other.
    if (held == nullptr || values.name != held->name || values.name.empty())
        problems += TextRules::nameProblem (values.name);

    if ((held == nullptr || values.pin != held->pin) && ! TextRules::isValidPin (values.pin))
        problems += std::string (problems.empty() ? "" : "\n") + "The PIN is four digits 0-9, or none.";

    return problems;
}

bool storeSettings (uint8_t typeCode, const SettingsValues& values, DeviceState& state, const SettingsValues* held)
{
    if (! isKnownDeviceType (typeCode) || ! settingsProblems (values, held).empty())
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
