// How every way a job can end reaches the command line: its exit code and the
// window's message for it. Pure, so it also runs in the Windows build.

#include "cli/Session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#ifndef _WIN32
 #include <unistd.h>
#endif

using namespace korvacli;

namespace
{
    /** Ctrl-C as the terminal sends it: to the process, whichever thread takes it. */
    void sendInterruptToThisProcess()
    {
       #ifdef _WIN32
        std::raise (SIGINT);
       #else
        ::kill (::getpid(), SIGINT);
       #endif
    }

    struct EndedJob : private Link, public JobContext
    {
        EndedJob (JobKind k, JobStatus s, JobDetail d) : Link (0), JobContext (k, *this, false)
        {
            status = s;
            detail = d;
        }
        bool shouldExit() const override { return false; }
    };
}

TEST (CliExitCodes, EachEndMapsToItsCodeAndTheWindowsMessage)
{
    struct Case { JobKind kind; JobStatus status; JobDetail detail; int code; const char* text; };
    const Case cases[] = {
        { JobKind::Detect,          JobStatus::Done,      JobDetail::none,        exitOk,       "" },
        { JobKind::UpdateFirmware,  JobStatus::Done,      JobDetail::none,        exitOk,       "" },
        { JobKind::ReadConfig,      JobStatus::PortError, JobDetail::none,        exitPortOpen, "dialout" },
        { JobKind::ReadConfig,      JobStatus::PortError, JobDetail::portLost,    exitFailed,   "connection to the receiver was lost" },
        { JobKind::UpdateFirmware,  JobStatus::PortError, JobDetail::portLost,    exitFailed,   "may need the update again" },
        { JobKind::Detect,          JobStatus::Failed,    JobDetail::noAnswer,    exitNoAnswer, "Doesn't appear to be any KORVA" },
        { JobKind::Detect,          JobStatus::Failed,    JobDetail::otherFamily, exitNoAnswer, "but a zVARNELO7QX answers" },
        { JobKind::WriteConfig,     JobStatus::Failed,    JobDetail::noAnswer,    exitNoAnswer, "did not answer" },
        { JobKind::WriteConfig,     JobStatus::Failed,    JobDetail::refused,     exitRefused,  "refused the setting" },
        { JobKind::RestoreDefaults, JobStatus::Failed,    JobDetail::refused,     exitRefused,  "refused to restore" },
        { JobKind::UpdateFirmware,  JobStatus::Failed,    JobDetail::noAnswer,    exitNoAnswer, "stopped answering" },
        { JobKind::UpdateFirmware,  JobStatus::Failed,    JobDetail::refused,     exitRefused,  "Update Firmware failed" },
        { JobKind::UpdateFirmware,  JobStatus::Failed,    JobDetail::refusedMidUpdate, exitRefused, "may need the update again" },
        { JobKind::WriteConfig,     JobStatus::Failed,    JobDetail::deviceChanged, exitFailed, "Another device" },
        { JobKind::UpdateFirmware,  JobStatus::Failed,    JobDetail::none,        exitFailed,   "Update Firmware failed" },
        { JobKind::UpdateFirmware,  JobStatus::Aborted,   JobDetail::none,        exitFailed,   "" },
        { JobKind::Detect,          JobStatus::Running,   JobDetail::none,        exitNoAnswer, "Doesn't appear" },
    };

    for (const auto& c : cases)
    {
        EndedJob job (c.kind, c.status, c.detail);
        job.openError.fault = PortFault::permission;
        job.otherFamilyType = 0xF1;
        const auto result = resultOf (job);

        SCOPED_TRACE (testing::Message() << "kind " << (int) c.kind << ", status " << (int) c.status
                                         << ", detail " << (int) c.detail);
        EXPECT_EQ (result.exitCode, c.code);
        EXPECT_NE (result.message.find (c.text), std::string::npos) << result.message;
        EXPECT_EQ (result.message.empty(), c.code == exitOk) << result.message;
        for (const char* windowAdvice : { "F5", "select its port", "Select the port" })
            EXPECT_EQ (result.message.find (windowAdvice), std::string::npos) << "the window's advice: " << result.message;
    }
}

TEST (CliExitCodes, VersionAsTheWindowShowsIt)
{
    EXPECT_EQ (versionText (0xF0, 0x01, 0x05), "1.05");
    EXPECT_EQ (versionText (0xF2, 0x1a, 0x0b), "1a.0b");
    EXPECT_EQ (versionText (0xF1, 0x01, 0x05), "");
}

// A second Ctrl-C ends the program at once, whatever the first one is waiting for.
TEST (CliExitCodes, SecondCtrlCEndsTheProgramAtOnce)
{
   #ifdef _WIN32
    GTEST_SKIP() << "death tests of a console handler are not run under Wine";
   #else
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT (
        {
            installInterruptHandling();
            sendInterruptToThisProcess();
            while (! interrupted())
                std::this_thread::sleep_for (std::chrono::milliseconds (5));
            sendInterruptToThisProcess();
            std::this_thread::sleep_for (std::chrono::seconds (10));   // a job that does not end
            std::exit (0);
        },
        testing::ExitedWithCode (130), "stopped");
   #endif
}

// Last: Ctrl-C stays pressed for the rest of the process.
TEST (CliExitCodes, CtrlCEndsAJobStillRunningButNotOneThatReachedItsEnd)
{
    installInterruptHandling();
    ASSERT_FALSE (interrupted());
    sendInterruptToThisProcess();
    for (int i = 0; i < 200 && ! interrupted(); ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    ASSERT_TRUE (interrupted());
    EXPECT_TRUE (portWaitsInterrupted()) << "the job's waits wake at once";

    EndedJob stopped (JobKind::UpdateFirmware, JobStatus::Aborted, JobDetail::none);
    EXPECT_EQ (resultOf (stopped).exitCode, exitInterrupted);
    EXPECT_NE (resultOf (stopped).message.find ("may need the update again"), std::string::npos);

    EndedJob running (JobKind::ReadConfig, JobStatus::Running, JobDetail::none);
    EXPECT_EQ (resultOf (running).exitCode, exitInterrupted);

    // Ctrl-C just after the last acknowledgement: the update is complete.
    EndedJob updated (JobKind::UpdateFirmware, JobStatus::Done, JobDetail::none);
    EXPECT_EQ (resultOf (updated).exitCode, exitOk);
    EXPECT_EQ (resultOf (updated).message, "");

    EndedJob failed (JobKind::ReadConfig, JobStatus::Failed, JobDetail::noAnswer);
    EXPECT_EQ (resultOf (failed).exitCode, exitNoAnswer);
}
