#pragma once
// What the user reads when a job's port did not open: what went wrong, in
// words, and what to do about it. Shown in the result box and the event log.

#include "serial/PortTable.h"

#include <string>

/** Whose advice a message ends with: the window's (select the port, press F5)
    or the command line's (run the command again). */
enum class FaultAdvice { window, commandLine };

/** The message for a failed open of portName (may be null: no port chosen). */
std::string portFaultText (const PortOpenError& error, const char* portName,
                           FaultAdvice advice = FaultAdvice::window);
