#pragma once
// Finding receivers: every listed port (and any named) probed at both
// families' rates at once, each on its own link and thread. Only detection's
// probes are sent; a port another program holds is reported, not waited for,
// and the system's console is never probed unless named.

#include "cli/Commands.h"
#include "protocol/DeviceState.h"

#include <string>
#include <vector>

namespace korvacli
{
    struct ScanEntry
    {
        enum class State { receiver, silent, skipped, unavailable, unreachable, interrupted };

        std::string port;
        State state = State::silent;
        bool slowBaud = false;     // with receiver: the family's rate it answered at
        DeviceState device;        // with receiver: its type and version
        std::string reason;        // with skipped, unavailable and unreachable: why, in words
    };

    /** Probes the table's ports and the named ones, in the table's order, but
        none of skip (listed as skipped). */
    std::vector<ScanEntry> scanPorts (const std::vector<std::string>& named, const std::vector<std::string>& skip = {});

    /** Lists the receivers found (and, with all, every port probed). */
    int scanCommand (const CommonOptions& options, bool all);

    /** The port-less form of a command: when the scan finds exactly one receiver,
        options.ports and (unless given) options.family are set to it, a note says
        so, and the result is -1; with none or several, the command ends here
        with exit 2 and the list, and that code is the result. */
    int useOnlyReceiver (const char* command, CommonOptions& options);
}
