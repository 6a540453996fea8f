#include "jobs/JobDispatch.h"

#include "firmware/FirmwareUpdate.h"
#include "protocol/Commands.h"
#include "protocol/Conversations.h"
#include "protocol/DeviceState.h"
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

void runJob (JobContext& job)
{
    job.status = JobStatus::PortError;
    const uint32_t baudRate = job.slowBaud ? 115200u : 921600u;

    if (openPort (job.portIndex, baudRate) == 0)
        return;

    job.status = JobStatus::Running;

    if (auto conversation = conversationFor (job.kind, deviceState().typeCode))
        conversation (job);

    closePort (job.portIndex);
}

void restoreDefaultsConversation (JobContext& job)
{
    pollEvents (job, true);
    job.status = JobStatus::Running;

    sendPacket (job.portIndex, traceLabelCommand, cmdRestoreDefaults, (int) sizeof (cmdRestoreDefaults));

    // A receiver that never reports its restart must not hold the panel forever:
    // give up after the same ~30 s the settings write allows for a restart.
    for (int pass = 0; job.status == JobStatus::Running; ++pass)
    {
        if (job.shouldExit())
            break;

        if (pollEvents (job, false) == EventResult::StatusTwo)
            job.status = JobStatus::Done;
        else if (pass >= writeConfigPassLimit)
            job.status = JobStatus::Failed;

        sleepOnePass();
    }
}

void listenConversation (JobContext& job)
{
    pollEvents (job, true);
    job.status = JobStatus::Running;

    while (! job.shouldExit())
    {
        pollEvents (job, false);
        sleepOnePass();
    }

    job.status = JobStatus::Done;
}
