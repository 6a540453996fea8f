#pragma once
// How the command line runs a job: on its own thread (the main one), with
// Ctrl-C as the job's exit request, and the job's end turned into an exit code
// and the message the window would show.

#include "cli/Console.h"
#include "protocol/Job.h"

#include <cstdint>
#include <string>

namespace korvacli
{
    /** Exit codes, as documented in the README. */
    enum ExitCode : int
    {
        exitOk = 0,
        exitUsage = 2,
        exitPortOpen = 3,
        exitNoAnswer = 4,
        exitRefused = 5,
        exitFailed = 6,
        exitOutputLost = 7,
        exitInterrupted = 130
    };

    enum class Family { zvarnelo, rulko, automatic };

    /** A job whose exit request is Ctrl-C: one Ctrl-C ends the jobs on every link.
        A termination signal kept while updates run ends every job but their
        transfers, which run to their end. */
    class CliJob : public JobContext
    {
    public:
        CliJob (JobKind k, Link& onLink, bool slow) : JobContext (k, onLink, slow) {}
        bool shouldExit() const override
        {
            return kind == JobKind::UpdateFirmware ? interrupted() : exitRequested();
        }
    };

    /** How a job ended, for the user. */
    struct JobResult
    {
        int exitCode = exitOk;
        std::string message;     // empty on success
    };

    /** Maps a job's end to its exit code and message: the window's account of
        what happened, with advice for the command line. A job that reached its
        own end reports it even when Ctrl-C came just after. */
    JobResult resultOf (const JobContext& job);

    /** Runs one job on the link to its end, on this thread. */
    JobResult runCliJob (Link& link, JobKind kind, bool slowBaud);

    /** The window's detect conversation at the family's baud rate; automatic tries
        the fast family (Rulko, DORU-415QX) first, then zVARNELO7QX. On success the
        link's device record holds the type and version, and slowBaud the rate found. */
    JobResult detectDevice (Link& link, Family family, bool& slowBaud);

    /** The version as the window shows it ("1.05"); "" for a type that has none. */
    std::string versionText (uint8_t typeCode, uint8_t major, uint8_t minor);
}
