#include "firmware/FirmwareUpdate.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "protocol/DebugOutput.h"
#include "protocol/EventReceiver.h"
#include "protocol/Pass.h"
#include "protocol/Trace.h"
#include "protocol/Transmit.h"
#include "serial/PortTable.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace
{
/** Short commands go out through sendCommand (to the panel's current port),
    long frames straight to the job's port; nothing once the job is asked to exit. */
class PortSink final : public FrameSink
{
public:
    explicit PortSink (const JobContext& j) noexcept : job (j) {}

    void sendShort (const uint8_t* payload, int count) override
    {
        if (! job.shouldExit())
            sendCommand (payload, count);
    }

    void sendLong (const uint8_t* frame, int length) override
    {
        sendPacket (job, traceLabelDspHeader, frame, length);
    }

private:
    const JobContext& job;
};

// How long the module may take to acknowledge each command before the update
// counts as interrupted. UpdateBegin makes the module erase its update area
// first (a few seconds for a megabyte of flash; 30 s leaves room for slow
// parts). Ends of sections and of the update may verify or commit what was
// written (10 s). A data chunk is programmed in milliseconds; 3 s still covers
// a Bluetooth link that retransmits.
constexpr int64_t beginAckLimitMs = 30000;
constexpr int64_t closingAckLimitMs = 10000;
constexpr int64_t chunkAckLimitMs = 3000;

/** The limit for the acknowledgement of the command that the step of state sends. */
int64_t ackLimitAfterStep (TransferState state)
{
    switch (state)
    {
        case TransferState::SendMcuEnd:
        case TransferState::SendDspEnd:
        case TransferState::SendConfigEnd:
        case TransferState::SendUpdateEnd:
        case TransferState::SendUpdateClose:
            return closingAckLimitMs;
        default:
            return chunkAckLimitMs;
    }
}

} // namespace

//==============================================================================
bool acceptFirmwareFile (const std::string& path, int panelState)
{
    const char* model = compatibleModel (panelState);
    if (model == nullptr)
        return false;

    // Only a regular file is an image: opening a FIFO would wait for a writer for good.
    std::error_code error;
    if (! std::filesystem::is_regular_file (path, error))
        return false;

    {
        std::ifstream stream (path, std::ios::binary);
        if (! stream.is_open() || ! checkHeader (stream, model))
            return false;
    }

    FirmwareImage& image = firmwareImage();
    if (! image.load (path))
        return false;

    // The transfer would send bytes that are not firmware, stall waiting for an
    // answer to a command it never sent, or write the MCU section and then end
    // Failed for want of a DSP or configuration section: refuse such an image now.
    if (! dryRunTransfer (image).phasesComplete)
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

std::atomic<uint32_t>& updateBytesAcknowledged()
{
    static std::atomic<uint32_t> bytes { 0 };
    return bytes;
}

void transferFirmware (JobContext& job)
{
    FirmwareTransfer transfer (firmwareImage());
    PortSink sink (job);

    pollEvents (job, true);
    job.status = JobStatus::Running;
    transfer.start (sink);

    Deadline deadline = Deadline::afterMs (beginAckLimitMs);
    bool begun = false;   // UpdateBegin was acknowledged: the receiver may have erased its flash
    updateBytesAcknowledged().store (0);

    runPasses (job, framedReceiver(), deadline, [&] (EventResult result)
    {
        updateProgress().store (static_cast<double> (transfer.progress()));

        switch (result)
        {
            case EventResult::AckCmd49:
                begun = true;
                updateBytesAcknowledged().store (transfer.totalSent());
                if (transfer.state() == TransferState::Idle)
                {
                    // The acknowledgement of UpdateClose: only now is the update complete.
                    job.status = transfer.phasesComplete() ? JobStatus::Done : JobStatus::Failed;
                }
                else
                {
                    const int64_t limit = ackLimitAfterStep (transfer.state());
                    if (! transfer.runStep (sink))
                        job.status = JobStatus::Failed;
                    deadline = Deadline::afterMs (limit);
                }
                break;

            case EventResult::None:
            case EventResult::AckCmd02:
            case EventResult::StatusTwo:
                break;

            case EventResult::Rejected:
                job.fail (begun ? JobDetail::refusedMidUpdate : JobDetail::refused);
                break;

            default:
                job.status = JobStatus::Failed;
                break;
        }
    });

    if (job.status == JobStatus::Running)
        job.status = JobStatus::Aborted;
}
