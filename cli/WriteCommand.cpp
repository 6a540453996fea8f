// korva write: the settings given (and a --from document) judged first, then on each
// port read, changed, written, read back and compared.

#include "cli/Commands.h"

#include "cli/Batch.h"
#include "cli/CommandSteps.h"
#include "cli/SettingsDocument.h"
#include "jobs/SettingsForm.h"

#include <fstream>
#include <utility>

namespace korvacli
{
namespace
{
    /** Takes the settings of a read --json document (or a bare settings object). */
    int applyDocument (Output& out, WriteOptions& write)
    {
        if (const auto why = notRegularFile (write.fromFile); ! why.empty())
            return usageError (out, why);

        std::ifstream in (write.fromFile, std::ios::binary);
        if (! in.is_open())
            return usageError (out, "Cannot open " + write.fromFile + ".");

        std::string text;
        text.resize (maxSettingsDocumentBytes + 1);
        in.read (text.data(), (std::streamsize) text.size());
        text.resize ((size_t) in.gcount());

        DocumentSettings doc;
        std::string why;
        if (! parseSettingsDocument (text, doc, why))
            return usageError (out, write.fromFile + ": " + why + ".");

        // Options given on the command line win over the document.
        auto take = [] (auto& option, const auto& fromDocument) { if (! option) option = fromDocument; };
        take (write.name, doc.name);
        take (write.pin, doc.pin);
        take (write.stereo, doc.stereo);
        take (write.maxDevices, doc.maxDevices);
        take (write.gpoNormallyOpen, doc.gpoNormallyOpen);
        take (write.led, doc.led);
        take (write.frontRestore, doc.frontRestore);
        return goOn;
    }

    /** The form's own rules on the options given, before the receiver is asked anything. */
    int validateOptions (Output& out, const WriteOptions& write)
    {
        // Only what was given is judged: an absent name stands in as a valid one.
        SettingsValues given;
        given.name = write.name.value_or ("x");
        given.pin = write.pin.value_or ("");
        const auto why = settingsProblems (given);
        return why.empty() ? goOn : usageError (out, std::string (invalidSettingsText) + "\n" + why);
    }
}

namespace
{
    /** One port's write: read, change what was given, write, read back and compare. */
    int writeOnLink (Output& out, Link& link, const CommonOptions& options, const WriteOptions& write)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        auto& state = link.device;
        const auto type = state.typeCode;
        const SettingsValues before = loadSettings (type, state);
        SettingsValues wanted = before;

        if (write.name) wanted.name = *write.name;
        if (write.pin) wanted.pin = *write.pin;

        Json ignored = Json::array();
        const std::pair<const char*, bool> fullSettingsOnly[] = {
            { "stereo", write.stereo.has_value() }, { "maxDevices", write.maxDevices.has_value() },
            { "gpoNormallyOpen", write.gpoNormallyOpen.has_value() }, { "led", write.led.has_value() },
            { "frontRestore", write.frontRestore.has_value() },
        };

        if (typeHasFullSettings (type))
        {
            if (write.stereo) wanted.stereo = *write.stereo;
            if (write.maxDevices) wanted.singleDevice = *write.maxDevices == 1;
            if (write.gpoNormallyOpen) wanted.gpoNormallyOpen = *write.gpoNormallyOpen;
            if (write.led) wanted.ledControl = *write.led;
            if (write.frontRestore) wanted.restoreControl = *write.frontRestore;
        }
        else
        {
            std::string names;
            for (const auto& [key, given] : fullSettingsOnly)
                if (given)
                {
                    ignored.push_back (key);
                    names += std::string (names.empty() ? "" : ", ") + labelOf (key);
                }
            if (! names.empty())
                out.note (std::string (modelNameFor (type)) + " keeps only its name and PIN; not written: " + names + ".");
        }
        out.doc()["ignored"] = ignored;

        // Only what changes is judged: a setting the receiver holds goes back as it is,
        // even one the rules would refuse (a 32-byte name another tool wrote).
        if (const auto why = settingsProblems (wanted, &before); ! why.empty())
            return usageError (out, std::string (invalidSettingsText) + "\n" + why);
        if (! storeSettings (type, wanted, state, &before))
            return usageError (out, invalidSettingsText);

        // Compared after the read-back: what the user asked for, not what was encoded.
        const Json sent = settingsJson (wanted, type);
        const Json from = settingsJson (before, type);

        if (const int code = jobStep (out, link, JobKind::WriteConfig, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        const Json after = heldSettingsJson (link.device);
        Json changes = Json::array();
        std::string mismatched;

        for (const auto& [key, value] : sent.items())
        {
            const Json was = settingIn (from, key);
            const bool kept = settingIn (after, key) == value;
            if (! kept)
                mismatched += std::string (mismatched.empty() ? "" : ", ") + labelOf (key);

            if (was == value)
                continue;

            changes.push_back ({ { "setting", key }, { "from", was }, { "to", value }, { "verified", kept } });
            out.line (std::string (labelOf (key)) + ": " + settingText (key, was) + " -> " + settingText (key, value)
                      + (kept ? "  (verified)" : "  (NOT kept)"));
        }

        out.doc()["changes"] = changes;
        out.doc()["verified"] = mismatched.empty();
        out.doc()["settings"] = after;

        if (! mismatched.empty())
            return out.finish (exitFailed, "Read back after the write, the receiver does not hold what was written: " + mismatched + ".");

        if (changes.empty())
            out.line ("nothing changed; the settings were written and read back unchanged");
        return out.finish (exitOk, "Device configuration is done [success]");
    }
}

int prepareWrite (const CommonOptions& options, WriteOptions& write)
{
    // The document's settings merged with the options are judged as a whole
    // before any receiver is contacted (or any port scanned).
    Output out ("write", options.json);
    if (! write.fromFile.empty())
        if (const int code = applyDocument (out, write); code != goOn)
            return code;
    return validateOptions (out, write);
}

int writeCommand (const CommonOptions& options, const WriteOptions& write)
{
    return runOnPorts ("write", options.json, options.ports, [&] (Output& out, Link& link)
    {
        return writeOnLink (out, link, options, write);
    });
}
}
