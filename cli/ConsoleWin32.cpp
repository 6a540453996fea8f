// Signals on Windows: the C runtime runs the Ctrl-C handler on a thread of its
// own, where waking the port waits (setting an event) is safe.

#include "cli/Console.h"

#include "serial/PortTable.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

#include <io.h>
#include <windows.h>

namespace korvacli
{
namespace
{
    std::atomic<bool> interruptRequested { false };
    std::atomic<bool> holdingTermination { false };
    std::atomic<int> heldSignal { 0 };

    extern "C" void onSignal (int signal)
    {
        std::signal (signal, onSignal);   // the runtime resets the handler before each call

        if (signal != SIGINT && holdingTermination.load())
        {
            heldSignal.store (signal);
            return;
        }

        if (interruptRequested.exchange (true))
            std::_Exit (130);

        interruptPortWaits();
    }
}

void installInterruptHandling()
{
    interruptPortWaits();      // creates the wake-up event now, outside any handler
    clearPortInterrupt();

    std::signal (SIGINT, onSignal);
    std::signal (SIGTERM, onSignal);
    std::signal (SIGBREAK, onSignal);
}

bool interrupted()
{
    return interruptRequested.load();
}

void holdTerminationSignals (bool hold)
{
    holdingTermination.store (hold);
}

int heldTerminationSignal()
{
    return heldSignal.load();
}

bool isTerminal (std::FILE* stream)
{
    return ::_isatty (::_fileno (stream)) != 0;
}

int terminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (::GetConsoleScreenBufferInfo (::GetStdHandle (STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;

    if (const char* columns = std::getenv ("COLUMNS"))
        if (const int n = std::atoi (columns); n > 0)
            return n;

    return 80;
}
}
