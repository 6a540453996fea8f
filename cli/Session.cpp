#include "cli/Session.h"

#include "jobs/JobDispatch.h"
#include "jobs/JobOutcome.h"
#include "jobs/PortFaultText.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace korvacli
{
namespace
{
    // Set by the signal handler: a lock-free atomic store is all it does.
    std::atomic<bool> interruptRequested { false };
    static_assert (std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

    extern "C" void onInterrupt (int)
    {
        interruptRequested.store (true);
    }

    /** Wakes the job's port waits once Ctrl-C was pressed. interruptPortWaits()
        is not guaranteed async-signal-safe on every platform (its first call may
        create the wake-up object), so a thread calls it instead of the handler. */
    void watchForInterrupt()
    {
        while (! interruptRequested.load())
            std::this_thread::sleep_for (std::chrono::milliseconds (20));

        interruptPortWaits();
    }

    const char* const interruptedText = "Interrupted.";
    const char* const updateInterruptedText = "Update firmware was interrupted.\n"
                                              "The receiver may need the update again: run the update once more.";
    const char* const notSupportedText = "This receiver type does not support this command.";
}

void installInterruptHandling()
{
    interruptPortWaits();      // creates the wake-up object now, outside any handler
    clearPortInterrupt();

    std::signal (SIGINT, onInterrupt);
    std::signal (SIGTERM, onInterrupt);
    std::thread (watchForInterrupt).detach();
}

bool interrupted()
{
    return interruptRequested.load();
}

JobResult resultOf (const JobContext& job)
{
    if (interrupted())
        return { exitInterrupted, job.kind == JobKind::UpdateFirmware ? updateInterruptedText : interruptedText };

    const auto status = job.status;
    const auto detail = job.detail;
    const auto outcome = jobOutcome (status, job.kind, detail);
    std::string message = outcome.message != nullptr ? outcome.message : "";

    switch (status)
    {
        case JobStatus::Done:
            return { exitOk, {} };

        case JobStatus::PortError:
            if (detail == JobDetail::portLost)
                return { exitFailed, message };
            return { exitPortOpen, portFaultText (job.openError, portDisplayName (job.portIndex)) };

        case JobStatus::Failed:
            switch (detail)
            {
                case JobDetail::noAnswer:    return { exitNoAnswer, message };
                case JobDetail::otherFamily: return { exitNoAnswer, otherFamilyText (job.otherFamilyType) };
                case JobDetail::refused:     return { exitRefused, message };
                case JobDetail::portLost:
                case JobDetail::none:        break;
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

JobResult runCliJob (JobKind kind, int portIndex, bool slowBaud)
{
    if (kind != JobKind::Detect && kind != JobKind::Listen
         && conversationFor (kind, deviceState().typeCode) == nullptr)
        return { exitFailed, notSupportedText };

    CliJob job (kind, portIndex, slowBaud);
    runJob (job);
    return resultOf (job);
}

JobResult detectDevice (int portIndex, Family family, bool& slowBaud)
{
    deviceState().currentPortIndex = portIndex;
    slowBaud = family == Family::zvarnelo;

    CliJob first (JobKind::Detect, portIndex, slowBaud);
    runJob (first);

    if (family == Family::automatic && first.status == JobStatus::Failed
         && first.detail == JobDetail::otherFamily && ! interrupted())
    {
        // The other family's baud rate answered: detect there, as the window
        // would after the user chose that family.
        slowBaud = ! slowBaud;
        CliJob second (JobKind::Detect, portIndex, slowBaud);
        runJob (second);
        return resultOf (second);
    }

    auto result = resultOf (first);
    if (result.exitCode == exitNoAnswer && first.detail == JobDetail::otherFamily)
        result.message += "\n(Choose the family with --family, or let korva find it with --family auto.)";
    return result;
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
