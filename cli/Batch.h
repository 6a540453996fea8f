#pragma once
// Running a command on one or several ports: one link and one thread per port,
// all at once in this process. One port behaves as the single-port command
// always did; several give one document with a result per port (--json), a live
// line per port on a terminal, or lines naming their port otherwise.

#include "cli/Output.h"
#include "protocol/Link.h"

#include <functional>
#include <string>
#include <vector>

namespace korvacli
{
    /** A port's part of a command, on its own thread: its link (the port is in
        the table) and its output. Returns the port's exit code, from out.finish. */
    using PortBody = std::function<int (Output& out, Link& link)>;

    /** Runs body on every port at once and waits for all. The exit status is 0
        when every port succeeded, otherwise that of the first port, in the order
        given, that did not. Ctrl-C ends every port's job. */
    int runOnPorts (const char* command, bool json, const std::vector<std::string>& ports, const PortBody& body);

    /** The exit status of several ports' codes, by the rule above. */
    int combinedExitCode (const std::vector<int>& codes);
}
