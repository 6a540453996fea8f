#pragma once
// What korva needs from the console and the process's signals, one file per
// platform behind it: Ctrl-C as the running job's exit request, termination
// signals held while an update must not be cut short, and the terminal's width.

#include <cstdio>

namespace korvacli
{
    /** From now on Ctrl-C (and SIGTERM, SIGHUP) request the running job's exit
        and wake its port waits; a second Ctrl-C ends the program at once. A
        closed output pipe no longer kills the program (SIGPIPE is ignored).
        Call once, first thing, before any other thread starts. */
    void installInterruptHandling();

    /** True once Ctrl-C (or a termination signal not held) interrupted the jobs. */
    bool interrupted();

    /** True once any exit was requested: interrupted(), or a termination signal
        kept while an update runs. No job that has not begun starts from then on. */
    bool exitRequested();

    /** While held, SIGTERM and SIGHUP do not interrupt a running transfer: they are
        kept, and the transfer runs to its end (an update cut short leaves a
        half-written receiver); every other job stops. Ctrl-C still interrupts.
        Holds nest: each update holds them for its own run, and they are let go
        when the last one ends. holdTerminationSignals (true) decides under the
        same lock as an arriving signal: it returns false, and holds nothing,
        when an exit was already requested (the transfer must not begin). */
    bool holdTerminationSignals (bool hold);

    /** The termination signal that arrived while held, or 0. */
    int heldTerminationSignal();

    /** True when stream is a terminal. */
    bool isTerminal (std::FILE* stream);

    /** Lets the terminal on standard output move the cursor up for redrawn lines
        (the Windows console needs asking); false when it cannot. */
    bool enableCursorMovement();

    /** Columns of the terminal on standard output: the system's figure, else
        COLUMNS, else 80. */
    int terminalColumns();
}
