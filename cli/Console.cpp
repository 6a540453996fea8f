#include "cli/Console.h"
#include "cli/ConsoleSignals.h"

#include "serial/PortTable.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace korvacli
{
namespace
{
    std::atomic<bool> interruptRequested { false };
    std::atomic<int> holdingTermination { 0 };   // updates running that hold them
    std::atomic<int> heldSignal { 0 };

    // A signal's fate and a transfer's start are decided one at a time: no signal
    // can slip between reading "not held" and setting the exit request. Signals
    // are taken on an ordinary thread (sigwait, the console's handler thread),
    // never in a signal handler, so a lock is safe here.
    std::mutex decision;
}

void takeSignal (int signal, bool isCtrlC)
{
    {
        const std::lock_guard<std::mutex> lock (decision);
        if (! isCtrlC && holdingTermination.load() > 0)
        {
            heldSignal.store (signal);
            return;
        }

        if (interruptRequested.exchange (true))
            endAtOnce();   // a second request: the user wants out now, whatever runs
    }

    // The flag is set first: a job starting now sees it and interrupts its own waits.
    interruptPortWaits();
}

bool interrupted()
{
    return interruptRequested.load();
}

bool exitRequested()
{
    return interruptRequested.load() || heldSignal.load() != 0;
}

bool holdTerminationSignals (bool hold)
{
    const std::lock_guard<std::mutex> lock (decision);
    if (hold && exitRequested())
        return false;
    holdingTermination.fetch_add (hold ? 1 : -1);
    return true;
}

int heldTerminationSignal()
{
    return heldSignal.load();
}

int terminalColumns()
{
    if (const int columns = systemTerminalColumns(); columns > 0)
        return columns;

    if (const char* columns = std::getenv ("COLUMNS"))
        if (const int n = std::atoi (columns); n > 0)
            return n;

    return 80;
}
}
