// korva detect, read and restore: detection, then the job each names.

#include "cli/Commands.h"

#include "cli/Batch.h"
#include "cli/CommandSteps.h"

namespace korvacli
{
int detectCommand (const CommonOptions& options)
{
    return runOnPorts ("detect", options.json, options.ports, [&] (Output& out, Link& link)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;

        printDevice (out, out.doc()["device"]);
        return out.finish (exitOk);
    });
}

int readCommand (const CommonOptions& options)
{
    return runOnPorts ("read", options.json, options.ports, [&] (Output& out, Link& link)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        out.doc()["settings"] = heldSettingsJson (link.device);
        printDevice (out, out.doc()["device"]);
        printSettings (out, out.doc()["settings"]);
        return out.finish (exitOk);
    });
}

int restoreCommand (const CommonOptions& options)
{
    return runOnPorts ("restore", options.json, options.ports, [&] (Output& out, Link& link)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::RestoreDefaults, slow); code != goOn)
            return code;

        // As the window does: the defaults are read back into view.
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        out.doc()["settings"] = heldSettingsJson (link.device);
        printSettings (out, out.doc()["settings"]);
        return out.finish (exitOk, "Device configuration is done [success]");
    });
}
}
