// Who holds a port, told without opening it: another process's descriptor
// under /proc (but not the pty's own master end), and UUCP lock files.

#include "serial/PortHolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    /** A child process that sleeps until killed, holding whatever descriptors it inherited.
        The constructor returns once the child has closed closeInChild, so the test never
        looks at it halfway. */
    struct Sleeper
    {
        pid_t pid = -1;
        explicit Sleeper (int closeInChild = -1)
        {
            int ready[2];
            if (::pipe (ready) != 0)
                std::abort();
            pid = ::fork();
            if (pid == 0)
            {
                ::close (ready[0]);
                if (closeInChild >= 0)
                    ::close (closeInChild);
                const char byte = 1;
                (void) ! ::write (ready[1], &byte, 1);
                ::close (ready[1]);
                ::pause();
                ::_exit (0);
            }
            ::close (ready[1]);
            char byte = 0;
            (void) ! ::read (ready[0], &byte, 1);
            ::close (ready[0]);
        }
        ~Sleeper()
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }
    };

    std::string scratchDir()
    {
        char dir[] = "/tmp/korva-holder-XXXXXX";
        return ::mkdtemp (dir) != nullptr ? dir : "/tmp";
    }
}

TEST (PortHolder, AnotherProcessHoldingTheLineIsNamedButNotThePtysOwnEnd)
{
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ (::openpty (&master, &slave, name, nullptr, nullptr), 0);

    // This process holds both ends: itself never counts.
    EXPECT_EQ (portHolder (name), "");

    {
        // A child holding the master (and a copy of the slave) is the device's own end.
        Sleeper deviceEnd;
        EXPECT_EQ (portHolder (name), "");
    }

    {
        Sleeper user (master);   // holds only the line
        EXPECT_NE (portHolder (name).find ("(process " + std::to_string (user.pid) + ")"), std::string::npos)
            << portHolder (name);
    }
    ::close (slave);
    ::close (master);
}

TEST (PortHolder, UucpLockFilesOfLivingProgramsOnly)
{
    const auto locks = scratchDir();
    const std::string port = locks + "/ttyFAKE0";
    Sleeper minicom;

    // (the lock file's text, whether it names a holder)
    const std::pair<std::string, bool> cases[] = {
        { "      " + std::to_string (minicom.pid) + "\n", true },   // the ASCII form minicom and picocom write
        { "999999999\n", false },                                   // a stale lock: its program is gone
        { "junk", false },
    };
    for (const auto& [text, named] : cases)
    {
        std::ofstream (locks + "/LCK..ttyFAKE0") << text;
        const auto holder = portHolderIn (port, "/proc", "/nonexistent:" + locks);
        EXPECT_EQ (holder.find ("(process " + std::to_string (minicom.pid) + ")") != std::string::npos, named) << text;
    }
    std::remove ((locks + "/LCK..ttyFAKE0").c_str());
    ::rmdir (locks.c_str());
}
