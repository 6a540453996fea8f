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

    /** True once an exit was requested. */
    bool interrupted();

    /** While held, SIGTERM and SIGHUP do not interrupt: they are kept, and the job
        runs to its end (an update cut short leaves a half-written receiver). Ctrl-C
        still interrupts. Holds nest: each update holds them for its own run, and
        they are let go when the last one ends. */
    void holdTerminationSignals (bool hold);

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
