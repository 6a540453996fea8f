// Signals on Windows: the C runtime runs the Ctrl-C handler on a thread of its
// own, where waking the port waits (setting an event) is safe.

#include "cli/Console.h"
#include "cli/ConsoleSignals.h"

#include "serial/PortTable.h"

#include <csignal>
#include <cstdlib>

#include <io.h>
#include <windows.h>

namespace korvacli
{
namespace
{
    extern "C" void onSignal (int signal)
    {
        std::signal (signal, onSignal);   // the runtime resets the handler before each call
        takeSignal (signal, signal == SIGINT);
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

void endAtOnce()
{
    const char text[] = "\nkorva: stopped\n";
    (void) ::_write (2, text, sizeof (text) - 1);
    std::_Exit (130);
}

bool isTerminal (std::FILE* stream)
{
    return ::_isatty (::_fileno (stream)) != 0;
}

bool enableCursorMovement()
{
    const HANDLE out = ::GetStdHandle (STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (! ::GetConsoleMode (out, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0
        || ::SetConsoleMode (out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int systemTerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (::GetConsoleScreenBufferInfo (::GetStdHandle (STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 0;
}
}
