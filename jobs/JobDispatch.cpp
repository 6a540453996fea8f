#include "jobs/JobDispatch.h"

#include "jobs/PortFaultText.h"

#include "firmware/FirmwareUpdate.h"
#include "protocol/Commands.h"
#include "protocol/Conversations.h"
#include "protocol/DebugOutput.h"
#include "protocol/EventReceiver.h"
#include "protocol/Pass.h"
#include "protocol/Trace.h"
#include "protocol/Transmit.h"
#include "serial/PortTable.h"

namespace
{
    // Which conversation serves each kind, by device type 0xF0, 0xF1, 0xF2.
    struct DispatchRow
    {
        JobKind kind;
        Conversation byType[3];
    };

    const DispatchRow dispatchTable[] = {
        { JobKind::Detect,          { detectModule, detectModule, detectModule } },
        { JobKind::ReadConfig,      { readDeviceConfig, readHciConfig, readDeviceConfig } },
        { JobKind::WriteConfig,     { writeDeviceConfig, writeHciConfig, writeDeviceConfig } },
        { JobKind::RestoreDefaults, { restoreDefaultsConversation, nullptr, restoreDefaultsConversation } },
        { JobKind::UpdateFirmware,  { transferFirmware, nullptr, transferFirmware } },
        { JobKind::Listen,          { listenConversation, listenConversation, listenConversation } },
    };

    // Detect and listen work whatever type was found before.
    bool anyType (JobKind kind)
    {
        return kind == JobKind::Detect || kind == JobKind::Listen;
    }
}

Conversation conversationFor (JobKind kind, uint8_t typeCode)
{
    for (const auto& row : dispatchTable)
    {
        if (row.kind != kind)
            continue;

        if (typeCode >= 0xF0 && typeCode <= 0xF2)
            return row.byType[typeCode - 0xF0];

        return anyType (kind) ? row.byType[0] : nullptr;
    }

    return nullptr;
}

namespace
{
    uint32_t baudRateOf (bool slowBaud)
    {
        return slowBaud ? 115200u : 921600u;
    }

    /** Tells the user when the USB adapter holds received bytes back for more
        than a millisecond: every acknowledgement waits that long, so a 16 ms
        timer makes a lock-step update about three times slower than the wire. */
    void noteSlowAdapter (const JobContext& job)
    {
        const int portIndex = job.portIndex;
        const int ms = portLatencyTimerMs (portIndex);
        if (ms <= 1)
            return;

        const char* name = portDisplayName (portIndex);
        std::string device = name != nullptr ? name : "";
        device = device.substr (device.rfind ('/') + 1);

        const std::string text = "the adapter holds received bytes up to " + std::to_string (ms)
                               + " ms (its latency timer); for fast jobs: echo 1 > /sys/bus/usb-serial/devices/"
                               + device + "/latency_timer";
        traceNote (job.link, text);
        debugOutput (text + "\n");
    }

    /** After a detect found nothing: asks once at the other family's baud rate, so
        the user can be told which family to choose. The job stays Failed; the
        type found there is kept in the job only, never as the detected device. */
    void detectAtOtherFamily (JobContext& job)
    {
        closePort (job.portIndex);
        if (openPort (job.portIndex, baudRateOf (! job.slowBaud)) == 0)
            return;

        job.status = JobStatus::Running;
        detectModule (job);

        auto& state = job.link.device;
        const bool found = job.status == JobStatus::Done;
        const uint8_t type = state.typeCode;
        state.typeCode = 0;
        state.versionMajor = 0;
        state.versionMinor = 0;

        if (job.status == JobStatus::PortError || (job.status == JobStatus::Running && job.shouldExit()))
            return;

        job.fail (found ? JobDetail::otherFamily : JobDetail::noAnswer);
        job.otherFamilyType = found ? type : 0;
    }
}

void runJob (JobContext& job)
{
    // A new job's waits start uninterrupted; an exit requested before this point
    // is carried over, so it still wakes every wait of this job.
    clearPortInterrupt();
    if (job.shouldExit())
        interruptPortWaits();

    job.detail = JobDetail::none;

    // Stopped before it began (Ctrl-C while an image was being checked, say):
    // the port is not even opened, so nothing reaches the receiver.
    if (job.shouldExit())
    {
        job.status = JobStatus::Aborted;
        return;
    }

    job.status = JobStatus::PortError;

    if (openPort (job.portIndex, baudRateOf (job.slowBaud)) == 0)
    {
        job.openError = lastOpenError();
        // Stopped while the port was being opened (a Bluetooth connection takes
        // seconds): nothing was sent, and nothing failed.
        if (job.openError.fault == PortFault::cancelled)
        {
            job.status = JobStatus::Aborted;
            return;
        }
        traceNote (job.link, portFaultText (job.openError, portDisplayName (job.portIndex)));
        return;
    }

    // The device behind the name is not the one detected: a receiver swapped
    // behind the same path. Nothing is sent; the caller detects again.
    if (job.expectedDevice != 0 && portDeviceIdentity (job.portIndex) != job.expectedDevice)
    {
        closePort (job.portIndex);
        job.fail (JobDetail::deviceChanged);
        traceNote (job.link, "another device is behind this port now: it is detected again before anything is sent");
        return;
    }

    job.status = JobStatus::Running;
    noteSlowAdapter (job);

    if (auto conversation = conversationFor (job.kind, job.link.device.typeCode))
        conversation (job);

    if (job.kind == JobKind::Detect && job.status == JobStatus::Failed && ! job.shouldExit())
        detectAtOtherFamily (job);

    if (job.status == JobStatus::PortError)
        traceNote (job.link, "the port was lost during the job: the device hung up, vanished or stopped taking bytes");

    closePort (job.portIndex);
}

void restoreDefaultsConversation (JobContext& job)
{
    pollEvents (job, true);
    job.status = JobStatus::Running;

    sendPacket (job, traceLabelCommand, cmdRestoreDefaults, (int) sizeof (cmdRestoreDefaults));

    // A receiver that never reports its restart must not hold the panel forever:
    // give up after the same ~30 s the settings write allows for a restart.
    Deadline deadline = Deadline::afterPasses (writeConfigPassLimit);

    runPasses (job, framedReceiver(), deadline, [&] (EventResult r)
    {
        if (r == EventResult::StatusTwo)
            job.status = JobStatus::Done;
        else if (r == EventResult::Rejected)
            job.fail (JobDetail::refused);
    });
}

void listenConversation (JobContext& job)
{
    pollEvents (job, true);
    job.status = JobStatus::Running;

    Deadline none;
    runPasses (job, framedReceiver(), none, [] (EventResult) {});

    if (job.status == JobStatus::Running)
        job.status = JobStatus::Done;
}
