#include "protocol/Conversations.h"

#include "protocol/Commands.h"
#include "protocol/EventReceiver.h"
#include "protocol/Frame.h"
#include "protocol/HciReceiver.h"
#include "protocol/Pass.h"
#include "protocol/Trace.h"
#include "protocol/Transmit.h"

#include <cstring>

namespace
{
void sendCmd (const JobContext& worker, const uint8_t* bytes, int count)
{
    sendPacket (worker, traceLabelCommand, bytes, count);
}

template <size_t N>
void sendCmd (const JobContext& worker, const uint8_t (&bytes)[N])
{
    sendCmd (worker, bytes, static_cast<int> (N));
}

bool probeHciIdentity (JobContext& worker)
{
    auto& state = worker.link.device;
    pollHciEvents (worker, true);
    worker.status = JobStatus::Running;
    sendCmd (worker, hciReadIdentity);
    worker.link.waitTicks = probePassLimit;

    runPasses (worker, hciReceiver(), [&] (EventResult r)
    {
        if (r == EventResult::IdentityBlock)
        {
            state.typeCode = TypeHci;
            const uint8_t* reply = worker.link.hciReply;
            if (reply[6] == 4)
                worker.status = std::memcmp (reply + 7, "MCHP", 4) == 0 ? JobStatus::Done
                                                                        : JobStatus::Failed;
        }
        else if (r != EventResult::None)
        {
            worker.status = JobStatus::Failed;
        }
    });
    return worker.status == JobStatus::Done;
}
}

void detectModule (JobContext& worker)
{
    auto& state = worker.link.device;
    state.typeCode = state.reportedTypeCode = 0;
    state.versionMajor = state.reportedVersionMajor = 0;
    state.versionMinor = state.reportedVersionMinor = 0;

    if (probeHciIdentity (worker) || worker.status == JobStatus::PortError)
        return;

    worker.detail = JobDetail::none;   // a silent probe is no verdict on a framed module

    pollEvents (worker, true);
    worker.status = JobStatus::Running;
    sendCmd (worker, cmdQueryType);

    runPasses (worker, framedReceiver(), [&] (EventResult r)
    {
        if (r == EventResult::PairedRecords)
        {
            sendCmd (worker, cmdQueryType);
        }
        else if (r == EventResult::TypeReply)
        {
            state.typeCode = state.reportedTypeCode;
            sendCmd (worker, cmdQueryVersion);
        }
        else if (r == EventResult::VersionReply)
        {
            state.versionMajor = state.reportedVersionMajor;
            state.versionMinor = state.reportedVersionMinor;
            worker.status = JobStatus::Done;
        }
    });
}

void readDeviceConfig (JobContext& worker)
{
    pollEvents (worker, true);
    worker.status = JobStatus::Running;
    std::memset (&worker.link.device.config, 0, sizeof (DeviceConfig));
    sendCmd (worker, cmdQueryName);

    runPasses (worker, framedReceiver(), [&] (EventResult r)
    {
        if (r == EventResult::NameReply)
            sendCmd (worker, cmdQuerySettings);
        else if (r == EventResult::SettingsReply)
            sendCmd (worker, cmdQueryPin);
        else if (r == EventResult::PinReply)
            worker.status = JobStatus::Done;
    });
}

void readHciConfig (JobContext& worker)
{
    pollHciEvents (worker, true);
    worker.status = JobStatus::Running;
    std::memset (&worker.link.device.hciConfig, 0, sizeof (HciConfig));
    sendCmd (worker, hciReadName);

    runPasses (worker, hciReceiver(), [&] (EventResult r)
    {
        switch (r)
        {
            case EventResult::None:         break;
            case EventResult::NameBlock:    sendCmd (worker, hciReadPin); break;
            case EventResult::PinBlock:     sendCmd (worker, hciReadPinSwitch); break;
            case EventResult::PinFlagBlock: worker.status = JobStatus::Done; break;
            case EventResult::Rejected:     worker.fail (JobDetail::refused); break;
            default:                        worker.status = JobStatus::Failed; break;
        }
    });
}

void writeDeviceConfig (JobContext& worker)
{
    writeDeviceConfig (worker, writeConfigPassLimit);
}

void writeDeviceConfig (JobContext& worker, int32_t restartPassLimit)
{
    const DeviceConfig& config = worker.link.device.config;
    uint8_t* const tx = worker.link.tx;
    pollEvents (worker, true);
    worker.status = JobStatus::Running;
    sendCmd (worker, tx, buildNameCommand (tx, config.name));

    // Each command is answered within the reply limit; only the restart that
    // applies the settings may take longer.
    Deadline deadline = Deadline::afterPasses (replyPassLimit);

    runPasses (worker, framedReceiver(), deadline, [&] (EventResult r)
    {
        if (r == EventResult::AckCmd35)
            sendCmd (worker, tx, buildPinCommand (tx, config.pin));
        else if (r == EventResult::AckCmd06)
            sendCmd (worker, tx, buildSettingsCommand (tx, config.stereo, config.maxDevices,
                                                       config.gpoNormallyOpen, config.ledControl,
                                                       config.restoreControl));
        else if (r == EventResult::AckCmdD4)
            sendCmd (worker, cmdApplySettings);
        else if (r == EventResult::StatusTwo)
            worker.status = JobStatus::Done;
        else if (r == EventResult::Rejected)
            worker.fail (JobDetail::refused);
        else
            return;

        if (worker.status == JobStatus::Running)
            deadline = Deadline::afterPasses (r == EventResult::AckCmdD4 ? restartPassLimit : replyPassLimit);
    });
}

void writeHciConfig (JobContext& worker)
{
    const HciConfig& config = worker.link.device.hciConfig;
    uint8_t packet[48];
    int step = 0;

    pollHciEvents (worker, true);
    worker.status = JobStatus::Running;
    sendCmd (worker, packet, encodeHciPinSwitchWrite (packet, config.pin[0] != 0));

    runPasses (worker, hciReceiver(), [&] (EventResult r)
    {
        if (r == EventResult::Rejected)
            worker.fail (JobDetail::refused);
        if (r != EventResult::WriteAck)
            return;
        switch (step++)
        {
            case 0:  sendCmd (worker, packet, encodeHciPinSwitchWrite (packet, config.pin[0] != 0)); break;
            case 1:  sendCmd (worker, packet, encodeHciPinWrite (packet, config.pin)); break;
            case 2:  sendCmd (worker, packet, encodeHciNameWrite (packet, config.name)); break;
            default: worker.status = JobStatus::Done; break;
        }
    });
}
