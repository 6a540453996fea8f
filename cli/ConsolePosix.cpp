// Signals on POSIX: blocked in every thread and taken by one thread in sigwait,
// so nothing runs in a signal handler and no thread polls for them.

#include "cli/Console.h"

#include "serial/PortTable.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace korvacli
{
namespace
{
    std::atomic<bool> interruptRequested { false };
    std::atomic<bool> holdingTermination { false };
    std::atomic<int> heldSignal { 0 };

    void takeSignals (sigset_t set)
    {
        for (;;)
        {
            int signal = 0;
            if (::sigwait (&set, &signal) != 0)
                continue;

            if (signal != SIGINT && holdingTermination.load())
            {
                heldSignal.store (signal);
                continue;
            }

            if (interruptRequested.exchange (true))
            {
                // A second request: the user wants out now, whatever runs.
                const char text[] = "\nkorva: stopped\n";
                (void) ! ::write (STDERR_FILENO, text, sizeof (text) - 1);
                ::_exit (130);
            }

            // The flag is set first: a job starting now sees it and interrupts its own waits.
            interruptPortWaits();
        }
    }
}

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

    std::thread (takeSignals, set).detach();
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
    return ::isatty (::fileno (stream)) != 0;
}

int terminalColumns()
{
    winsize size {};
    if (::ioctl (STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;

    if (const char* columns = std::getenv ("COLUMNS"))
        if (const int n = std::atoi (columns); n > 0)
            return n;

    return 80;
}
}
