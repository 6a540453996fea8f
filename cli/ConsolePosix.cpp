// Signals on POSIX: blocked in every thread and taken by one thread in sigwait,
// so nothing runs in a signal handler and no thread polls for them.

#include "cli/Console.h"
#include "cli/ConsoleSignals.h"

#include "serial/PortTable.h"

#include <csignal>
#include <thread>

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace korvacli
{
void installInterruptHandling()
{
    interruptPortWaits();      // creates the wake-up object now
    clearPortInterrupt();

    // A reader that went away (korva ... | head) must not end a job half-way:
    // writes to it fail with EPIPE instead, and the output is dropped.
    std::signal (SIGPIPE, SIG_IGN);

    sigset_t set;
    sigemptyset (&set);
    sigaddset (&set, SIGINT);
    sigaddset (&set, SIGTERM);
    sigaddset (&set, SIGHUP);
    ::pthread_sigmask (SIG_BLOCK, &set, nullptr);   // inherited by every thread started later

    std::thread ([set]
    {
        for (;;)
        {
            int signal = 0;
            if (::sigwait (&set, &signal) == 0)
                takeSignal (signal, signal == SIGINT);
        }
    }).detach();
}

void endAtOnce()
{
    const char text[] = "\nkorva: stopped\n";
    (void) ! ::write (STDERR_FILENO, text, sizeof (text) - 1);
    ::_exit (130);
}

bool isTerminal (std::FILE* stream)
{
    return ::isatty (::fileno (stream)) != 0;
}

bool enableCursorMovement()
{
    return true;   // terminals here take the ANSI sequences as they are
}

int systemTerminalColumns()
{
    winsize size {};
    return ::ioctl (STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}
}
