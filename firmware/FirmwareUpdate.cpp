#include "firmware/FirmwareUpdate.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "protocol/DebugOutput.h"
#include "protocol/EventReceiver.h"
#include "protocol/Trace.h"
#include "protocol/Transmit.h"
#include "serial/PortTable.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace
{
/** Short commands go out through sendCommand (to the panel's current port),
    long frames straight to the job's port. */
class PortSink final : public FrameSink
{
public:
    explicit PortSink (int port) noexcept : portIndex (port) {}

    void sendShort (const uint8_t* payload, int count) override { sendCommand (payload, count); }

    void sendLong (const uint8_t* frame, int length) override
    {
        trace (traceLabelDspHeader, frame, length);
        writePacket (portIndex, frame, length);
    }

private:
    const int portIndex;
};

void sleepBriefly (int)
{
    std::this_thread::sleep_for (std::chrono::microseconds (100));
}

std::atomic<TransferIdleWait> idleWait { &sleepBriefly };

} // namespace

//==============================================================================
bool acceptFirmwareFile (const std::string& path, int panelState)
{
    const char* model = compatibleModel (panelState);
    if (model == nullptr)
        return false;

    {
        std::ifstream stream (path, std::ios::binary);
        if (! stream.is_open() || ! checkHeader (stream, model))
            return false;
    }

    FirmwareImage& image = firmwareImage();
    if (! image.load (path))
        return false;

    // The transfer would send bytes that are not firmware, or stall waiting for
    // an answer to a command it never sent: refuse such an image now.
    if (! dryRunTransfer (image).walkComplete)
    {
        image.clear();
        return false;
    }

    image.rewindWindow();

    char line[64];
    std::snprintf (line, sizeof (line), "\n\nbootImageAddress : %p\n\n", static_cast<const void*> (image.data.data()));
    debugOutput (line);
    return true;
}

std::atomic<double>& updateProgress()
{
    static std::atomic<double> progress { 0.0 };
    return progress;
}

void setTransferIdleWait (TransferIdleWait wait)
{
    idleWait.store (wait != nullptr ? wait : &sleepBriefly);
}

void transferFirmware (JobContext& job)
{
    FirmwareTransfer transfer (firmwareImage());
    PortSink sink (job.portIndex);

    pollEvents (job, true);
    job.status = JobStatus::Running;
    transfer.start (sink);

    const TransferIdleWait wait = idleWait.load();

    while (job.status == JobStatus::Running)
    {
        if (job.shouldExit())
            break;

        const EventResult result = pollEvents (job, false);
        updateProgress().store (static_cast<double> (transfer.progress()));

        switch (result)
        {
            case EventResult::AckCmd49:
                // In Idle this can only be the acknowledgement of UpdateClose,
                // arriving before the verdict was taken: take it now.
                if (transfer.state() != TransferState::Idle)
                {
                    if (! transfer.runStep (sink))
                        job.status = JobStatus::Failed;
                    break;
                }
                [[fallthrough]];

            case EventResult::None:
            case EventResult::AckCmd02:
                if (transfer.state() == TransferState::Idle)
                    job.status = transfer.phasesComplete() ? JobStatus::Done : JobStatus::Failed;
                else if (result == EventResult::None && rxRing().isEmpty())
                    wait (job.portIndex);
                break;

            case EventResult::StatusTwo:
                break;

            default:
                job.status = JobStatus::Failed;
                break;
        }
    }

    if (job.status == JobStatus::Running)
        job.status = JobStatus::Aborted;
}
