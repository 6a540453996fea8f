// How every way a job can end reaches the command line: its exit code and the
// window's message for it. Pure, so it also runs in the Windows build.

#include "cli/Session.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

using namespace korvacli;

namespace
{
    struct EndedJob : public JobContext
    {
        EndedJob (JobKind k, JobStatus s, JobDetail d) : JobContext (k, 0, false)
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
        { JobKind::UpdateFirmware,  JobStatus::Failed,    JobDetail::refused,     exitRefused,  "" },
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
    }
}

TEST (CliExitCodes, VersionAsTheWindowShowsIt)
{
    EXPECT_EQ (versionText (0xF0, 0x01, 0x05), "1.05");
    EXPECT_EQ (versionText (0xF2, 0x1a, 0x0b), "1a.0b");
    EXPECT_EQ (versionText (0xF1, 0x01, 0x05), "");
}

// Last: Ctrl-C stays pressed for the rest of the process.
TEST (CliExitCodes, CtrlCWinsOverHowTheJobEnded)
{
    installInterruptHandling();
    ASSERT_FALSE (interrupted());
    std::raise (SIGINT);
    ASSERT_TRUE (interrupted());

    EndedJob update (JobKind::UpdateFirmware, JobStatus::Aborted, JobDetail::none);
    EXPECT_EQ (resultOf (update).exitCode, exitInterrupted);
    EXPECT_NE (resultOf (update).message.find ("may need the update again"), std::string::npos);

    EndedJob read (JobKind::ReadConfig, JobStatus::Failed, JobDetail::noAnswer);
    EXPECT_EQ (resultOf (read).exitCode, exitInterrupted);
}
