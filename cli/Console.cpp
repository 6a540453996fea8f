#include "cli/Console.h"
#include "cli/ConsoleSignals.h"

#include "serial/PortTable.h"

#include <atomic>
#include <cstdlib>

namespace korvacli
{
namespace
{
    std::atomic<bool> interruptRequested { false };
    std::atomic<int> holdingTermination { 0 };   // updates running that hold them
    std::atomic<int> heldSignal { 0 };
}

void takeSignal (int signal, bool isCtrlC)
{
    if (! isCtrlC && holdingTermination.load() > 0)
    {
        heldSignal.store (signal);
        return;
    }

    if (interruptRequested.exchange (true))
        endAtOnce();   // a second request: the user wants out now, whatever runs

    // The flag is set first: a job starting now sees it and interrupts its own waits.
    interruptPortWaits();
}

bool interrupted()
{
    return interruptRequested.load();
}

void holdTerminationSignals (bool hold)
{
    holdingTermination.fetch_add (hold ? 1 : -1);
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
