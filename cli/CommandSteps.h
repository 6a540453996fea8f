#pragma once
// What the commands share: settings as JSON and as text, the receiver's
// description, and the steps every command on a port takes (detection, a job).

#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Session.h"
#include "jobs/SettingsForm.h"
#include "protocol/DeviceState.h"
#include "protocol/Link.h"

#include <cstdint>
#include <string>

namespace korvacli
{
    /** What a step returns to let the command go on; any other value is the
        command's exit code, its output already finished. */
    constexpr int goOn = -1;

    /** The word the user types for a setting's key ("max-devices" for "maxDevices"). */
    const char* labelOf (const std::string& key);

    /** The settings a type has, as every command's document shows them. */
    Json settingsJson (const SettingsValues& v, uint8_t typeCode);

    /** The settings the link's device state holds now, for the detected type. */
    Json heldSettingsJson (const DeviceState& state);

    /** A setting of a document, or null when the document lacks it. */
    Json settingIn (const Json& settings, const std::string& key);

    /** A setting's value as text; a receiver's name with its controls escaped. */
    std::string settingText (const std::string& key, const Json& value);

    void printSettings (const Output& out, const Json& settings);
    void printDevice (const Output& out, const Json& device);

    /** Detects the receiver at the options' family; fills "family" and "device". */
    int detectStep (Output& out, Link& link, const CommonOptions& options, bool& slowBaud);

    /** Runs one job of kind on the link. */
    int jobStep (Output& out, Link& link, JobKind kind, bool slowBaud);

    /** Ends the command with exit 2 and text. */
    int usageError (Output& out, const std::string& text);

    /** Why path is no regular file to read ("" when it is one), told before
        anything opens it: a FIFO would block the open for good. */
    std::string notRegularFile (const std::string& path);
}
