#pragma once
// Diagnostics meant for a developer watching the process, not for the user:
// the refused-command message, the paired-device records, the accepted-image line.

#include <string>

/** Writes text unchanged (no line feed added) to standard error, unless turned off. */
void debugOutput (const std::string& text);

/** On by default; a front end whose standard error is the user's (the command
    line) turns it off. */
void setDebugOutputEnabled (bool enabled);
