#include "cli/Session.h"

#include "jobs/JobDispatch.h"
#include "jobs/JobOutcome.h"
#include "jobs/PortFaultText.h"
#include "serial/PortTable.h"

#include <cstdio>

namespace korvacli
{
namespace
{
    const char* const interruptedText = "Interrupted.";
    const char* const updateInterruptedText = "Update firmware was interrupted.\n"
                                              "The receiver may need the update again: run the update once more.";
    const char* const notSupportedText = "This receiver type does not support this command.";
    const char* const runAgainAdvice = "Reconnect the receiver and run the command again.";
    const char* const updateAgainAdvice = "The receiver may need the update again: reconnect it and run the update once more.";

    /** The window's message keeps its account of what happened; its advice
        (select the port again, press F5) is the window's, so the command line
        gives its own. */
    std::string withAdvice (const std::string& windowText, const char* advice)
    {
        return windowText.substr (0, windowText.find ('\n')) + "\n" + advice;
    }
}

JobResult resultOf (const JobContext& job)
{
    const auto status = job.status;
    const auto detail = job.detail;
    const bool update = job.kind == JobKind::UpdateFirmware;
    // A listen has no end of its own: the exit request is how it stops.
    const bool ended = (status == JobStatus::Done && job.kind != JobKind::Listen)
                    || status == JobStatus::Failed || status == JobStatus::PortError;

    if (exitRequested() && ! ended)
        return { exitInterrupted, update ? updateInterruptedText : interruptedText };

    const auto outcome = jobOutcome (status, job.kind, detail);
    std::string message = outcome.message != nullptr ? outcome.message : "";

    switch (status)
    {
        case JobStatus::Done:
            return { exitOk, {} };

        case JobStatus::PortError:
            if (detail == JobDetail::portLost)
                return { exitFailed, withAdvice (message, update ? updateAgainAdvice : runAgainAdvice) };
            return { exitPortOpen, portFaultText (job.openError, portDisplayName (job.portIndex), FaultAdvice::commandLine) };

        case JobStatus::Failed:
            switch (detail)
            {
                case JobDetail::noAnswer:
                    return { exitNoAnswer, update ? withAdvice (message, updateAgainAdvice) : message };
                case JobDetail::otherFamily:
                    return { exitNoAnswer, otherFamilyText (job.otherFamilyType, FaultAdvice::commandLine) };
                case JobDetail::refused:
                    return { exitRefused, message };
                case JobDetail::refusedMidUpdate:
                    return { exitRefused, withAdvice (message, updateAgainAdvice) };
                case JobDetail::deviceChanged:
                    return { exitFailed, "Another device is behind this port now: nothing was sent.\n"
                                         "Run the command again to detect it." };
                case JobDetail::portLost:
                case JobDetail::none:
                    break;
            }
            return { exitFailed, message };

        case JobStatus::Aborted:
        case JobStatus::NotStarted:
        case JobStatus::Running:
            break;
    }

    if (job.kind == JobKind::Detect)
        return { exitNoAnswer, message };

    return { exitFailed, message.empty() ? "The job did not finish." : message };
}

JobResult runCliJob (Link& link, JobKind kind, bool slowBaud)
{
    if (kind != JobKind::Detect && kind != JobKind::Listen
         && conversationFor (kind, link.device.typeCode) == nullptr)
        return { exitFailed, notSupportedText };

    CliJob job (kind, link, slowBaud);
    runJob (job);
    return resultOf (job);
}

JobResult detectDevice (Link& link, Family family, bool& slowBaud)
{
    slowBaud = family == Family::zvarnelo;

    CliJob first (JobKind::Detect, link, slowBaud);
    runJob (first);

    if (family == Family::automatic && first.status == JobStatus::Failed
         && first.detail == JobDetail::otherFamily && ! exitRequested())
    {
        // The other family's baud rate answered: detect there, as the window
        // would after the user chose that family.
        slowBaud = ! slowBaud;
        CliJob second (JobKind::Detect, link, slowBaud);
        runJob (second);
        return resultOf (second);
    }

    return resultOf (first);
}

std::string versionText (uint8_t typeCode, uint8_t major, uint8_t minor)
{
    if (typeCode == 0xF1)
        return {};   // the window shows no version for this type

    char text[16];
    std::snprintf (text, sizeof (text), "%x.%02x", major, minor);
    return text;
}
}
