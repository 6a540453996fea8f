#pragma once
// The settings as the form holds them, and their mapping to and from the
// device record: the window's form and the command line both go through here,
// so a setting is judged and encoded the same way whichever front end sends it.

#include "protocol/DeviceState.h"

#include <cstdint>
#include <string>

/** The message shown when the settings do not pass validation. */
constexpr const char* invalidSettingsText = "Please check parameters. It seems not valid";

struct SettingsValues
{
    std::string name;               // UTF-8
    std::string pin;                // "" or four ASCII digits
    bool stereo = false;            // the rest only for the framed types (0xF0, 0xF2)
    bool singleDevice = false;      // one paired device instead of eight
    bool gpoNormallyOpen = false;
    bool ledControl = false;
    bool restoreControl = false;
};

/** 0xF0, 0xF1 or 0xF2. */
bool isKnownDeviceType (uint8_t typeCode) noexcept;

/** True when the type keeps more than name and PIN (the framed types). */
bool typeHasFullSettings (uint8_t typeCode) noexcept;

/** The model name of a type code ("" for an unknown one). */
const char* modelNameFor (uint8_t typeCode) noexcept;

/** Why values cannot be written, one line per setting ("" when they can). A
    setting equal to its value in held (what the receiver holds now) is not
    judged: written back unchanged, it is not refused. */
std::string settingsProblems (const SettingsValues& values, const SettingsValues* held = nullptr);

/** Validates values for the type (as settingsProblems) and, when they pass,
    encodes them into the record's part for that type. False (record untouched)
    for an unknown type, an invalid name or an invalid PIN. */
bool storeSettings (uint8_t typeCode, const SettingsValues& values, DeviceState& state,
                    const SettingsValues* held = nullptr);

/** The record's part for the type, decoded. */
SettingsValues loadSettings (uint8_t typeCode, const DeviceState& state);
