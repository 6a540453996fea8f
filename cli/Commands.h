#pragma once
// The commands of korva, each run to its end; each returns the exit code.

#include "cli/Output.h"
#include "cli/Session.h"
#include "protocol/DeviceState.h"

#include <optional>
#include <string>
#include <vector>

namespace korvacli
{
    struct CommonOptions
    {
        bool json = false;
        std::vector<std::string> ports;      // in the order given
        std::string image;                   // update's IMAGE
        std::vector<std::string> skip;       // scan: ports never probed
        Family family = Family::automatic;
        bool familyGiven = false;
    };

    /** The settings a write changes; unset ones keep the receiver's value. */
    struct WriteOptions
    {
        std::optional<std::string> name;
        std::optional<std::string> pin;      // "" for no PIN
        std::optional<bool> stereo;
        std::optional<int> maxDevices;
        std::optional<bool> gpoNormallyOpen;
        std::optional<bool> led;
        std::optional<bool> frontRestore;
        std::string fromFile;                // a document written by read --json
    };

    /** The receiver as every command's document shows it: typeCode, model, version. */
    Json deviceJson (const DeviceState& state);

    int portsCommand (const CommonOptions& options);
    int detectCommand (const CommonOptions& options);
    int readCommand (const CommonOptions& options);
    /** What write can check before any port is scanned or contacted: the --from
        document merged with the options, judged by the form's rules. -1 to go
        on (write then holds the merged settings), or the exit code. */
    int prepareWrite (const CommonOptions& options, WriteOptions& write);

    /** The same for update: IMAGE is a regular file and, without PORT, one that
        some receiver model takes. */
    int prepareUpdate (const CommonOptions& options);

    int writeCommand (const CommonOptions& options, const WriteOptions& write);
    int restoreCommand (const CommonOptions& options);
    int updateCommand (const CommonOptions& options);
    int logCommand (const CommonOptions& options);
}
