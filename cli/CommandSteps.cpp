#include "cli/CommandSteps.h"

#include "jobs/SettingsForm.h"
#include "jobs/TextRules.h"

#include <cstdio>
#include <filesystem>

namespace korvacli
{
namespace
{
    struct SettingLabel { const char* key; const char* label; };

    const SettingLabel settingLabels[] = {
        { "name", "name" }, { "pin", "pin" }, { "stereo", "audio" }, { "maxDevices", "max-devices" },
        { "gpoNormallyOpen", "gpo" }, { "led", "led" }, { "frontRestore", "front-restore" },
    };

    const char* stepName (JobKind kind)
    {
        switch (kind)
        {
            case JobKind::ReadConfig:      return "reading";
            case JobKind::WriteConfig:     return "writing";
            case JobKind::RestoreDefaults: return "restoring";
            case JobKind::UpdateFirmware:  return "updating";
            case JobKind::Listen:          return "listening";
            case JobKind::Detect:          break;
        }
        return "detecting";
    }
}

const char* labelOf (const std::string& key)
{
    for (const auto& l : settingLabels)
        if (key == l.key)
            return l.label;
    return key.c_str();
}

Json settingsJson (const SettingsValues& v, uint8_t typeCode)
{
    Json s;
    s["name"] = v.name;
    s["pin"] = v.pin;

    if (typeHasFullSettings (typeCode))
    {
        s["stereo"] = v.stereo;
        s["maxDevices"] = v.singleDevice ? 1 : 8;
        s["gpoNormallyOpen"] = v.gpoNormallyOpen;
        s["led"] = v.ledControl;
        s["frontRestore"] = v.restoreControl;
    }

    return s;
}

/** The settings the link's device state holds now, for the detected type. */
Json heldSettingsJson (const DeviceState& state)
{
    return settingsJson (loadSettings (state.typeCode, state), state.typeCode);
}

/** A setting of a document, or null when the document lacks it. */
Json settingIn (const Json& settings, const std::string& key)
{
    const auto it = settings.find (key);
    return it != settings.end() ? *it : Json();
}

std::string settingText (const std::string& key, const Json& value)
{
    if (value.is_null())
        return "(not read)";
    if (key == "name")
        return TextRules::visible (value.get<std::string>());   // a receiver's name is anyone's text
    if (key == "pin")
        return value.get<std::string>().empty() ? "(none)" : value.get<std::string>();
    if (key == "stereo")
        return value.get<bool>() ? "stereo" : "mono";
    if (key == "maxDevices")
        return std::to_string (value.get<int>());
    if (key == "gpoNormallyOpen")
        return value.get<bool>() ? "open" : "closed";
    return value.get<bool>() ? "on" : "off";
}

void printSettings (const Output& out, const Json& settings)
{
    for (const auto& [key, value] : settings.items())
    {
        char line[128];
        std::snprintf (line, sizeof (line), "%-14s ", labelOf (key));
        out.line (line + settingText (key, value));
    }
}

void printDevice (const Output& out, const Json& device)
{
    out.line ("type           " + device["typeCode"].get<std::string>());
    out.line ("model          " + device["model"].get<std::string>());
    if (! device["version"].is_null())
        out.line ("version        " + device["version"].get<std::string>());
}

//==============================================================================
int detectStep (Output& out, Link& link, const CommonOptions& options, bool& slowBaud)
{
    out.state ("detecting");
    const auto result = detectDevice (link, options.family, slowBaud);

    // The family is the baud rate a receiver answered at: none when nothing did.
    if (result.exitCode != exitOk)
    {
        out.doc()["family"] = nullptr;
        return out.finish (result.exitCode, result.message);
    }

    out.doc()["family"] = slowBaud ? "zvarnelo" : "rulko";
    out.doc()["device"] = deviceJson (link.device);
    return goOn;
}

int jobStep (Output& out, Link& link, JobKind kind, bool slowBaud)
{
    out.state (stepName (kind));
    const auto result = runCliJob (link, kind, slowBaud);
    return result.exitCode == exitOk ? goOn : out.finish (result.exitCode, result.message);
}

//==============================================================================
int usageError (Output& out, const std::string& text)
{
    return out.finish (exitUsage, text);
}

/** Refuses a path that is not a regular file before anything opens it: a
    FIFO would block the open for good, a directory or device is no document. */
std::string notRegularFile (const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status (path, error);
    if (! std::filesystem::exists (status))
        return path + " does not exist.";
    if (! std::filesystem::is_regular_file (status))
        return path + " is not a regular file.";
    return {};
}

//==============================================================================
Json deviceJson (const DeviceState& state)
{
    char code[8];
    std::snprintf (code, sizeof (code), "0x%02X", state.typeCode);

    Json d;
    d["typeCode"] = code;
    d["model"] = modelNameFor (state.typeCode);
    const auto version = versionText (state.typeCode, state.versionMajor, state.versionMinor);
    d["version"] = version.empty() ? Json() : Json (version);
    return d;
}
}
