#pragma once
// Between the shared part of the console (Console.cpp) and the file for each
// platform: what a signal does is decided once, whichever way it arrives.

namespace korvacli
{
    /** A thread that took an interrupt or termination signal calls this: a held
        termination signal is kept, a first request interrupts the job, a
        second ends the program at once. */
    void takeSignal (int signal, bool isCtrlC);

    /** Says "stopped" on standard error and ends the process with status 130,
        without taking any lock another thread may hold. */
    [[noreturn]] void endAtOnce();

    /** The terminal's width as the system tells it, or 0 when it does not. */
    int systemTerminalColumns();
}
